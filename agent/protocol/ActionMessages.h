#pragma once

#include "ClientID.h"
#include "DKACommand.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Suppression {
enum Action : std::uint32_t
{
    Start = 1,
    End = 2,
};
std::string GetActionName(std::uint32_t action);
} // namespace Suppression

namespace RecordOnDemand {
enum Action : std::uint32_t
{
    NotAvailable = 0,
    Keep = 1,
    Discard = 2,
};
std::string GetActionName(std::uint32_t action);
} // namespace RecordOnDemand

// An action on the current call: the action code and the client identity that names the
// agent (absent when the identity text is empty).
class ClientActionMessage : public DKACommand
{
public:
    std::uint32_t GetAction() const { return m_action; }
    const ClientID* GetClientID() const { return m_clientID.get(); }

    std::uint32_t GetSize() const override;
    std::string ToString() const override;

protected:
    using ActionNameFunction = std::string (*)(std::uint32_t);

    ClientActionMessage(std::uint32_t commandID, std::uint32_t idType, const std::string& id, std::uint32_t action,
                        ActionNameFunction actionName);
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_action;
    std::unique_ptr<ClientID> m_clientID;
    ActionNameFunction m_actionName;
};

// Start or end audio suppression. Always sent as DKA_PCI_SUPPRESS, by the automatic and the
// manual suppression alike; a received one keeps the ID of its header.
class SuppressMessage : public ClientActionMessage
{
public:
    SuppressMessage(std::uint32_t idType = 0, const std::string& id = {}, std::uint32_t action = 0);
};

// Keep or discard the current call.
class RecordOnDemandMessage : public ClientActionMessage
{
public:
    RecordOnDemandMessage(std::uint32_t idType = 0, const std::string& id = {}, std::uint32_t action = 0);
};

// One annotation value for the recorder's field number.
class AnnotateField : public Serializable
{
public:
    static constexpr std::size_t ValueSize = 261;

    explicit AnnotateField(std::uint32_t fieldID = 0, std::string value = {})
        : m_fieldID(fieldID), m_value(std::move(value))
    {
    }

    std::uint32_t GetFieldID() const { return m_fieldID; }
    const std::string& GetValue() const { return m_value; }

    std::uint32_t GetSize() const override { return 4 + ValueSize; }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_fieldID;
    std::string m_value;
};

// DKA_ANNOTATE_CALL: field values for the current call. The identity is carried as the ID
// type and a text sized by it, with the field count between the two.
class AnnotateMessage : public DKACommand
{
public:
    AnnotateMessage(std::uint32_t idType = 0, std::string id = {}, std::vector<AnnotateField> fields = {});

    std::uint32_t GetIDType() const { return m_idType; }
    const std::string& GetID() const { return m_id; }
    const std::vector<AnnotateField>& GetFields() const { return m_fields; }

    // Throws InvalidIDTypeException for an ID type outside 1 to 9.
    std::uint32_t GetSize() const override;
    std::string ToString() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_idType;
    std::string m_id;
    std::vector<AnnotateField> m_fields;
};

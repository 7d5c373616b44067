#pragma once

#include "Serializable.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace DKA {

// Which identity of the agent a recorder uses to find its configuration for a feature.
enum IDType : std::uint32_t
{
    Agent_Name_To_Agent_ID = 1,
    Windows_Login_Name_To_Extension = 2,
    Host_Name_To_Logical_Channel = 3,
    Host_Name_To_Extension = 4,
    Host_Name_To_Rostrvm_ID = 5,
    Windows_Login_Name_To_Annotation_Field = 6,
    Host_Name_To_Annotation_Field = 7,
    Windows_Login_Name_To_Channel_Name = 8,
    Host_Name_To_Channel_Name = 9,
};

// Fixed string sizes of the identity texts.
constexpr std::size_t AgentNameSize = 50;
constexpr std::size_t HostNameSize = 256;
constexpr std::size_t WindowsLoginNameSize = 257;

} // namespace DKA

std::string GetIDTypeName(std::uint32_t idType);

class InvalidIDTypeException : public std::exception
{
public:
    explicit InvalidIDTypeException(std::uint32_t idType);
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    std::string m_text;
};

// Size of the fixed string field that holds the identity text for an ID type
// (50 agent name, 257 login name, 256 host name). Throws InvalidIDTypeException for
// anything outside 1 to 9.
std::size_t GetIDTextSize(std::uint32_t idType);

// The identity under which the agent asks a recorder for something: the ID type, and in
// the concrete classes the identity text as a fixed-size field after it.
class ClientID : public Serializable
{
public:
    explicit ClientID(std::uint32_t idType, std::string id = {}) : m_idType(idType), m_id(std::move(id)) {}

    std::uint32_t GetIDType() const { return m_idType; }
    const std::string& GetID() const { return m_id; }

    std::uint32_t GetSize() const override { return 4; }
    virtual std::string ToString() const;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

    std::uint32_t m_idType;
    std::string m_id;
};

// The three concrete identities differ only in the field size and the label in log text.
class ClientIDText : public ClientID
{
public:
    std::uint32_t GetSize() const override;
    std::string ToString() const override;

protected:
    ClientIDText(std::uint32_t idType, std::string id, std::size_t textSize, const char* label);
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::size_t m_textSize;
    const char* m_label;
};

class ClientAgentName : public ClientIDText
{
public:
    explicit ClientAgentName(std::string agentName = {});
};

class ClientHostName : public ClientIDText
{
public:
    ClientHostName(std::uint32_t idType, std::string hostName = {});
};

class ClientWindowsLoginName : public ClientIDText
{
public:
    ClientWindowsLoginName(std::uint32_t idType, std::string loginName = {});
};

// None when the text is empty (whatever the type); otherwise the class for the type.
// Throws InvalidIDTypeException for a non-empty text with a type outside 1 to 9.
std::unique_ptr<ClientID> CreateClientID(std::uint32_t idType, const std::string& id);

// Reads the client ID that must follow the fixed fields of a received record: the type is
// peeked and validated first, then the matching class reads the type and the text.
std::unique_ptr<ClientID> ReadClientID(Serializable::Reader& in);

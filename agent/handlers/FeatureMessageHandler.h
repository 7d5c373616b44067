#pragma once

#include "MessageHandler.h"

#include "protocol/ConfigMessages.h"

#include <atomic>
#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

class CGeneralMessageHandler;

// The common part of the four feature handlers: the client identity that every request
// carries, the ID types a feature accepts, and the conversation shape
// (ID configuration, then configuration).
//
// The handler's configuration belongs to its own thread; Reinitialize may come from the
// session thread. Both run under the configuration lock, so a reset never interleaves
// with a command or an inspection, and the requests it sends still go out in order.
class CFeatureMessageHandler : public CMessageHandler
{
public:
    struct Feature
    {
        const char* className;      // for the log lines
        std::uint32_t getIDConfigID;
        std::uint32_t getConfigID;
        std::uint32_t idConfigID;   // the recorder's answer to getIDConfigID
    };

    CFeatureMessageHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                           std::shared_ptr<CTCPComms> connection, const Feature& feature);

    // Forget the feature's configuration and ask for it again. Any thread.
    void Reinitialize();

    // No types: every type 0 to 9. Types of 10 or more are skipped.
    void SetSupportedIDTypes(std::initializer_list<std::uint32_t> types);
    bool IsIDTypeSupported(std::uint32_t idType) const;
    std::uint32_t GetIDType() const;

    // The ID type in force and the identifier it names, read together, so that a request
    // never pairs a new type with the old identifier.
    struct ClientIdentity
    {
        std::uint32_t idType = 0;
        std::string clientID; // empty (with a log line) when the type is not supported
    };
    ClientIdentity GetClientIdentity() const;
    std::string GetClientID() const { return GetClientIdentity().clientID; }
    virtual bool SetIDInfo(std::uint32_t idType, std::size_t methodCount);

protected:
    virtual void ResetConfiguration() = 0;
    virtual void RequestIDConfig();
    virtual void RequestConfig();
    virtual bool HandleIDConfig(const IDConfig& config) = 0;
    // One command of this feature; true when the configuration is to be requested now.
    virtual bool HandleCommand(const DKACommand& command) = 0;

    // The thread body of the annotation, manual suppression and record on demand handlers.
    unsigned RunCommandLoop();
    // SetIDInfo with the configuration's rule; false (with a log line) when it has none.
    bool ApplyIDRule(const IDConfig& config);

    void SetAgentName(const std::string& name);
    std::string GetAgentName() const;
    void SetIDType(std::uint32_t idType);
    CGeneralMessageHandler* GetOwner() const { return m_owner; }
    const Feature& GetFeature() const { return m_feature; }

    // Held by Reinitialize and by every step of the handler's thread.
    std::recursive_mutex m_configMutex;

private:
    CGeneralMessageHandler* const m_owner;
    const Feature m_feature;
    // The ID type and the agent name are read by the dialogs' thread too.
    mutable std::mutex m_identityMutex;
    std::uint32_t m_idType = 1;
    std::string m_agentName;
    std::bitset<10> m_supportedIDTypes;
};

// The feature dialog a handler reports to and is registered with; the dialog may let go
// of the handler first (DetachDialog), from another thread.
template <typename Dialog>
class FeatureDialogLink
{
public:
    template <typename Client>
    void Attach(Dialog* dialog, std::uint32_t recorder, Client* client)
    {
        m_dialog.store(dialog);
        if (dialog)
            dialog->RegisterHandler(recorder, client);
    }
    void Detach() { m_dialog.store(nullptr); }
    Dialog* Get() const { return m_dialog.load(); }

private:
    std::atomic<Dialog*> m_dialog{nullptr};
};

// A command's typed form; logs and gives null when the catalogue made another class.
void LogUnexpectedCommandClass(std::uint32_t recorder, const DKACommand& command);
template <typename Command>
const Command* CommandAs(const DKACommand& command, std::uint32_t recorder)
{
    const auto* typed = dynamic_cast<const Command*>(&command);
    if (typed == nullptr)
        LogUnexpectedCommandClass(recorder, command);
    return typed;
}

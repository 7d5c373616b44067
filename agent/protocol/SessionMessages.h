#pragma once

#include "ClientID.h"
#include "DKACommand.h"

#include <cstdint>
#include <memory>
#include <string>

// DKA_ID: the agent's identification, sent after each connection.
class ID : public DKACommand
{
public:
    static constexpr std::uint32_t CurrentInterfaceVersion = 3;

    ID(std::string hostName = {}, std::string windowsLoginName = {});

    const std::string& GetHostName() const { return m_hostName; }
    std::uint32_t GetInterfaceVersion() const { return m_interfaceVersion; }
    const std::string& GetWindowsLoginName() const { return m_windowsLoginName; }

    // The login name is on the wire only from interface version 3 on.
    std::uint32_t GetSize() const override;
    std::string ToString() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    bool HasLoginName() const { return m_interfaceVersion > 2; }

    std::string m_hostName;
    std::uint32_t m_interfaceVersion = CurrentInterfaceVersion;
    std::string m_windowsLoginName;
};

// A feature's request for its ID configuration (DKA_GET_*_ID_CONFIG).
class GetIDConfig : public DKACommand
{
public:
    explicit GetIDConfig(std::uint32_t commandID, std::string hostName = {});

    const std::string& GetHostName() const { return m_hostName; }

    std::uint32_t GetSize() const override;
    std::string ToString() const override { return "Hostname = " + m_hostName; }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::string m_hostName;
};

// A feature's request for its configuration for a client identity (DKA_GET_*_CONFIG).
// Without an identity text the request is the bare header.
class GetTaskConfig : public DKACommand
{
public:
    GetTaskConfig(std::uint32_t idType, const std::string& id, std::uint32_t commandID);
    explicit GetTaskConfig(std::uint32_t commandID) : GetTaskConfig(0, {}, commandID) {}

    const ClientID* GetClientID() const { return m_clientID.get(); }

    std::uint32_t GetSize() const override;
    std::string ToString() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::unique_ptr<ClientID> m_clientID;
};

// Feature bits of DKA_TASKS.
namespace DKA {
enum TaskMask : std::uint32_t
{
    Task_PCI_Suppression = 0x00000001,
    Task_Annotation = 0x00000002,
    Task_Manual_Suppression = 0x00000004,
    Task_Record_On_Demand = 0x00000008,
};
} // namespace DKA

// DKA_TASKS: the features the recorder runs for this workstation.
class Tasks : public DKACommand
{
public:
    explicit Tasks(std::uint32_t mask = 0) : DKACommand(DKA_TASKS), m_mask(mask) {}

    std::uint32_t GetMask() const { return m_mask; }

    std::uint32_t GetSize() const override { return HeaderSize + 4; }
    std::string ToString() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_mask;
};

// One 32-bit state: shutdown reason, call-state bits or a record on demand state.
class StateMessage : public DKACommand
{
public:
    explicit StateMessage(std::uint32_t commandID, std::uint32_t state = 0) : DKACommand(commandID), m_state(state) {}

    std::uint32_t GetState() const { return m_state; }

    std::uint32_t GetSize() const override { return HeaderSize + 4; }
    std::string ToString() const override { return "State = " + std::to_string(m_state); }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_state;
};

// Reasons of DKA_SERVER_SHUTDOWN.
namespace DKA {
enum ShutdownReason : std::uint32_t
{
    SSR_Client_Timed_Out = 1,
    SSR_Server_Shutting_Down = 2,
    SSR_Multiple_Client_Connections = 3,
    SSR_Socket_Error = 6,
    SSR_Bad_Message = 7,
    SSR_Client_Not_Found = 8,
    SSR_Invalid_Client_Configuration = 9,
};

// Bits of DKA_CALL_STATE.
enum CallState : std::uint32_t
{
    CS_Recording = 0x01,
    CS_Suppressed = 0x02,
    CS_Call_Events_Unavailable = 0x04,
    CS_Not_Configured = 0x08,
    CS_Discarding = 0x10,
};
} // namespace DKA

// DKA_STATE_TIMEOUT: the recorder's call-state time-out.
class StateTimeout : public DKACommand
{
public:
    explicit StateTimeout(std::uint16_t timeout = 0) : DKACommand(DKA_STATE_TIMEOUT), m_timeout(timeout) {}

    std::uint16_t GetTimeout() const { return m_timeout; }

    std::uint32_t GetSize() const override { return HeaderSize + 2; }
    std::string ToString() const override { return "Timeout = " + std::to_string(m_timeout); }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint16_t m_timeout;
};

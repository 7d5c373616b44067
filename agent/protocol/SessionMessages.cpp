#include "SessionMessages.h"

#include <cstdio>

using DKA::HostNameSize;
constexpr std::size_t LoginNameSize = DKA::WindowsLoginNameSize;

ID::ID(std::string hostName, std::string windowsLoginName)
    : DKACommand(DKA_ID), m_hostName(std::move(hostName)), m_windowsLoginName(std::move(windowsLoginName))
{
}

std::uint32_t ID::GetSize() const
{
    return HeaderSize + HostNameSize + 4 + (HasLoginName() ? LoginNameSize : 0);
}

std::string ID::ToString() const
{
    return "Hostname = " + m_hostName + ", Interface Version = " + std::to_string(m_interfaceVersion) +
           ", Windows Login Name = " + m_windowsLoginName;
}

void ID::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.ReadString(m_hostName, HostNameSize);
    in.Read(m_interfaceVersion);
    m_windowsLoginName.clear();
    if (HasLoginName())
        in.ReadString(m_windowsLoginName, LoginNameSize);
}

void ID::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.WriteString(m_hostName, HostNameSize);
    out.Write(m_interfaceVersion);
    if (HasLoginName())
        out.WriteString(m_windowsLoginName, LoginNameSize);
}

GetIDConfig::GetIDConfig(std::uint32_t commandID, std::string hostName)
    : DKACommand(commandID), m_hostName(std::move(hostName))
{
}

std::uint32_t GetIDConfig::GetSize() const
{
    return HeaderSize + HostNameSize;
}

void GetIDConfig::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.ReadString(m_hostName, HostNameSize);
}

void GetIDConfig::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.WriteString(m_hostName, HostNameSize);
}

GetTaskConfig::GetTaskConfig(std::uint32_t idType, const std::string& id, std::uint32_t commandID)
    : DKACommand(commandID), m_clientID(CreateClientID(idType, id))
{
}

std::uint32_t GetTaskConfig::GetSize() const
{
    return HeaderSize + (m_clientID ? m_clientID->GetSize() : 0);
}

std::string GetTaskConfig::ToString() const
{
    return m_clientID ? m_clientID->ToString() : std::string();
}

void GetTaskConfig::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    m_clientID = ReadClientID(in);
}

void GetTaskConfig::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    if (m_clientID)
        out.WriteObject(m_clientID.get());
}

std::string Tasks::ToString() const
{
    char text[32];
    std::snprintf(text, sizeof text, "Tasks = 0x%08X", static_cast<unsigned>(m_mask));
    return text;
}

void Tasks::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.Read(m_mask);
}

void Tasks::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.Write(m_mask);
}

void StateMessage::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.Read(m_state);
}

void StateMessage::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.Write(m_state);
}

void StateTimeout::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.Read(m_timeout);
}

void StateTimeout::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.Write(m_timeout);
}

#include "ClientID.h"

namespace {

using DKA::AgentNameSize;
using DKA::HostNameSize;
constexpr std::size_t LoginNameSize = DKA::WindowsLoginNameSize;

bool IsLoginNameType(std::uint32_t idType)
{
    return idType == DKA::Windows_Login_Name_To_Extension || idType == DKA::Windows_Login_Name_To_Annotation_Field ||
           idType == DKA::Windows_Login_Name_To_Channel_Name;
}

bool IsValidIDType(std::uint32_t idType)
{
    return idType >= DKA::Agent_Name_To_Agent_ID && idType <= DKA::Host_Name_To_Channel_Name;
}

} // namespace

std::string GetIDTypeName(std::uint32_t idType)
{
    switch (idType) {
    case DKA::Agent_Name_To_Agent_ID: return "Agent_Name_To_Agent_ID";
    case DKA::Windows_Login_Name_To_Extension: return "Windows_Login_Name_To_Extension";
    case DKA::Host_Name_To_Logical_Channel: return "Host_Name_To_Logical_Channel";
    case DKA::Host_Name_To_Extension: return "Host_Name_To_Extension";
    case DKA::Host_Name_To_Rostrvm_ID: return "Host_Name_To_Rostrvm_ID";
    case DKA::Windows_Login_Name_To_Annotation_Field: return "Windows_Login_Name_To_Annotation_Field";
    case DKA::Host_Name_To_Annotation_Field: return "Host_Name_To_Annotation_Field";
    case DKA::Windows_Login_Name_To_Channel_Name: return "Windows_Login_Name_To_Channel_Name";
    case DKA::Host_Name_To_Channel_Name: return "Host_Name_To_Channel_Name";
    default: return "Unknown DKA::IDType";
    }
}

InvalidIDTypeException::InvalidIDTypeException(std::uint32_t idType)
    : m_text("ID Type " + std::to_string(idType) + " is not valid")
{
}

std::size_t GetIDTextSize(std::uint32_t idType)
{
    if (!IsValidIDType(idType))
        throw InvalidIDTypeException(idType);
    if (idType == DKA::Agent_Name_To_Agent_ID)
        return AgentNameSize;
    return IsLoginNameType(idType) ? LoginNameSize : HostNameSize;
}

std::string ClientID::ToString() const
{
    return "ID Type = " + GetIDTypeName(m_idType);
}

void ClientID::ReadFields(Reader& in)
{
    in.Read(m_idType);
}

void ClientID::WriteFields(Writer& out) const
{
    out.Write(m_idType);
}

ClientIDText::ClientIDText(std::uint32_t idType, std::string id, std::size_t textSize, const char* label)
    : ClientID(idType, std::move(id)), m_textSize(textSize), m_label(label)
{
}

std::uint32_t ClientIDText::GetSize() const
{
    return ClientID::GetSize() + static_cast<std::uint32_t>(m_textSize);
}

std::string ClientIDText::ToString() const
{
    return ClientID::ToString() + ", " + m_label + " = " + m_id;
}

void ClientIDText::ReadFields(Reader& in)
{
    ClientID::ReadFields(in);
    in.ReadString(m_id, m_textSize);
}

void ClientIDText::WriteFields(Writer& out) const
{
    ClientID::WriteFields(out);
    out.WriteString(m_id, m_textSize);
}

ClientAgentName::ClientAgentName(std::string agentName)
    : ClientIDText(DKA::Agent_Name_To_Agent_ID, std::move(agentName), AgentNameSize, "Agent Name")
{
}

ClientHostName::ClientHostName(std::uint32_t idType, std::string hostName)
    : ClientIDText(idType, std::move(hostName), HostNameSize, "Hostname")
{
}

ClientWindowsLoginName::ClientWindowsLoginName(std::uint32_t idType, std::string loginName)
    : ClientIDText(idType, std::move(loginName), LoginNameSize, "Windows Login Name")
{
}

namespace {

std::unique_ptr<ClientID> MakeClientID(std::uint32_t idType, const std::string& id)
{
    if (!IsValidIDType(idType))
        throw InvalidIDTypeException(idType);
    if (idType == DKA::Agent_Name_To_Agent_ID)
        return std::make_unique<ClientAgentName>(id);
    if (IsLoginNameType(idType))
        return std::make_unique<ClientWindowsLoginName>(idType, id);
    return std::make_unique<ClientHostName>(idType, id);
}

} // namespace

std::unique_ptr<ClientID> CreateClientID(std::uint32_t idType, const std::string& id)
{
    return id.empty() ? nullptr : MakeClientID(idType, id);
}

std::unique_ptr<ClientID> ReadClientID(Serializable::Reader& in)
{
    std::unique_ptr<ClientID> clientID = MakeClientID(in.PeekUInt32(), {});
    in.ReadObject(clientID.get());
    return clientID;
}

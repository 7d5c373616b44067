#include "FeatureMessageHandler.h"

#include "GeneralMessageHandler.h"
#include "IdentitySystem.h"
#include "Log.h"
#include "protocol/ClientID.h"
#include "protocol/SessionMessages.h"

CFeatureMessageHandler::CFeatureMessageHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                                               std::shared_ptr<CTCPComms> connection, const Feature& feature)
    : CMessageHandler(recorderNumber, std::move(connection),
                      owner != nullptr ? owner->GetHostName() : kzb::identity::SystemHostName()),
      m_owner(owner), m_feature(feature)
{
}

void CFeatureMessageHandler::Reinitialize()
{
    std::lock_guard<std::recursive_mutex> lock(m_configMutex);
    ResetConfiguration();
    SetIDType(DKA::Agent_Name_To_Agent_ID);
    RequestIDConfig();
}

void CFeatureMessageHandler::SetSupportedIDTypes(std::initializer_list<std::uint32_t> types)
{
    if (types.size() == 0) {
        m_supportedIDTypes.set();
        return;
    }
    for (const std::uint32_t type : types) {
        if (type < m_supportedIDTypes.size())
            m_supportedIDTypes.set(type);
    }
}

bool CFeatureMessageHandler::IsIDTypeSupported(std::uint32_t idType) const
{
    return idType < m_supportedIDTypes.size() && m_supportedIDTypes.test(idType);
}

CFeatureMessageHandler::ClientIdentity CFeatureMessageHandler::GetClientIdentity() const
{
    ClientIdentity identity;
    {
        std::lock_guard<std::mutex> lock(m_identityMutex);
        identity.idType = m_idType;
        if (IsIDTypeSupported(m_idType)) {
            switch (m_idType) {
            case DKA::Agent_Name_To_Agent_ID:
                identity.clientID = m_agentName;
                break;
            case DKA::Windows_Login_Name_To_Extension:
            case DKA::Windows_Login_Name_To_Annotation_Field:
            case DKA::Windows_Login_Name_To_Channel_Name:
                identity.clientID = GetUserName();
                break;
            case DKA::Host_Name_To_Logical_Channel:
            case DKA::Host_Name_To_Extension:
            case DKA::Host_Name_To_Rostrvm_ID:
            case DKA::Host_Name_To_Annotation_Field:
            case DKA::Host_Name_To_Channel_Name:
                identity.clientID = GetHostName();
                break;
            default:
                break;
            }
            return identity;
        }
    }
    AGENT_LOG(kzb::log::Error, "Recorder %u - GetClientID(): IDType '%s' (%u) is not supported", GetRecorderNumber(),
            GetIDTypeName(identity.idType).c_str(), identity.idType);
    return identity;
}

std::uint32_t CFeatureMessageHandler::GetIDType() const
{
    std::lock_guard<std::mutex> lock(m_identityMutex);
    return m_idType;
}

void CFeatureMessageHandler::SetIDType(std::uint32_t idType)
{
    std::lock_guard<std::mutex> lock(m_identityMutex);
    m_idType = idType;
}

bool CFeatureMessageHandler::SetIDInfo(std::uint32_t idType, std::size_t methodCount)
{
    const std::uint32_t recorder = GetRecorderNumber();
    if (!IsIDTypeSupported(idType)) {
        AGENT_LOG(kzb::log::Error, "Recorder %u - SetIDInfo(): IDType '%s' (%u) is not supported", recorder,
                GetIDTypeName(idType).c_str(), idType);
        return false;
    }
    if (idType < 1 || idType > 9) {
        AGENT_LOG(kzb::log::Error, "Recorder %u - SetIDInfo(): Unexpected IDType (%u)", recorder, idType);
        return false;
    }
    if (idType == DKA::Agent_Name_To_Agent_ID) {
        if (methodCount == 0) {
            AGENT_LOG(kzb::log::Error,
                    "Recorder %u - SetAgentNameInfo(): Number of ID methods is zero. Ignoring message...", recorder);
            return false;
        }
    } else if (methodCount > 0) {
        AGENT_LOG(kzb::log::Error,
                "Recorder %u - SetHostNameInfo(): Number of ID methods is greater than zero (%zu). Ignoring message...",
                recorder, methodCount);
        return false;
    }
    SetIDType(idType);
    return true;
}

void CFeatureMessageHandler::RequestIDConfig()
{
    Connection().Send(std::make_shared<GetIDConfig>(m_feature.getIDConfigID, GetHostName()));
}

void CFeatureMessageHandler::RequestConfig()
{
    const ClientIdentity identity = GetClientIdentity();
    if (identity.clientID.empty())
        return;
    Connection().Send(std::make_shared<GetTaskConfig>(identity.idType, identity.clientID, m_feature.getConfigID));
}

unsigned CFeatureMessageHandler::RunCommandLoop()
{
    const std::uint32_t recorder = GetRecorderNumber();
    AGENT_LOG(kzb::log::Info, "Recorder %u - %s thread started", recorder, m_feature.className);
    Reinitialize();
    while (IsRunning()) {
        const DKACommandPtr command = WaitForCommand();
        if (!command)
            continue;
        try {
            std::lock_guard<std::recursive_mutex> lock(m_configMutex);
            if (HandleCommand(*command))
                RequestConfig();
        } catch (const std::exception& error) {
            AGENT_LOG(kzb::log::Error, "Recorder %u - %s: %s", recorder, m_feature.className, error.what());
        }
    }
    AGENT_LOG(kzb::log::Info, "Recorder %u - %s thread stopped", recorder, m_feature.className);
    return 0;
}

bool CFeatureMessageHandler::ApplyIDRule(const IDConfig& config)
{
    if (const auto rule = config.GetRule())
        return SetIDInfo(rule->GetIDType(), rule->GetMethods().size());
    AGENT_LOG(kzb::log::Error, "Recorder %u - %s contained no rule", GetRecorderNumber(),
            GetCommandName(m_feature.idConfigID).c_str());
    return false;
}

void CFeatureMessageHandler::SetAgentName(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_identityMutex);
    m_agentName = name;
}

std::string CFeatureMessageHandler::GetAgentName() const
{
    std::lock_guard<std::mutex> lock(m_identityMutex);
    return m_agentName;
}

void LogUnexpectedCommandClass(std::uint32_t recorder, const DKACommand& command)
{
    AGENT_LOG(kzb::log::Error, "Recorder %u - %s does not carry the expected record. Ignoring...", recorder,
            GetCommandName(command.GetCommandID()).c_str());
}

#include "ManualSuppressionHandler.h"

#include "Log.h"
#include "protocol/ActionMessages.h"
#include "ui/ManualSuppressionDialogModel.h"

namespace {

const CFeatureMessageHandler::Feature ManualSuppression{
    "CManualSuppressionHandler", DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG, DKA_GET_MANUAL_SUPPRESSION_CONFIG,
    DKA_MANUAL_SUPPRESSION_ID_CONFIG};

constexpr std::uint32_t Disabled = 1;
constexpr std::uint32_t Enabled = 2;

} // namespace

CManualSuppressionHandler::CManualSuppressionHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                                                     std::shared_ptr<CTCPComms> connection)
    : CFeatureMessageHandler(recorderNumber, owner, std::move(connection), ManualSuppression)
{
    AGENT_LOG(kzb::log::Info, "Recorder %u - CManualSuppressionHandler object created", recorderNumber);
    SetSupportedIDTypes({2, 3, 4, 5, 6, 7, 8, 9});
}

CManualSuppressionHandler::~CManualSuppressionHandler()
{
    StopAndJoin();
    const std::uint32_t recorder = GetRecorderNumber();
    if (CManualSuppressionDialogModel* dialog = m_dialog.Get()) {
        dialog->SetManualSuppressionEnabled(recorder, Disabled);
        dialog->UnregisterHandler(recorder);
    }
    AGENT_LOG(kzb::log::Info, "Recorder %u - CManualSuppressionHandler object destroyed", recorder);
}

void CManualSuppressionHandler::SetEnabled(std::uint32_t state)
{
    if (CManualSuppressionDialogModel* dialog = m_dialog.Get())
        dialog->SetManualSuppressionEnabled(GetRecorderNumber(), state);
}

bool CManualSuppressionHandler::HandleIDConfig(const IDConfig& config)
{
    const bool result = ApplyIDRule(config);
    if (result)
        SetEnabled(Enabled);
    return result;
}

bool CManualSuppressionHandler::HandleCommand(const DKACommand& command)
{
    const std::uint32_t recorder = GetRecorderNumber();
    switch (command.GetCommandID()) {
    case DKA_MANUAL_SUPPRESSION_ID_CONFIG:
        if (const auto* config = CommandAs<IDConfig>(command, recorder))
            return HandleIDConfig(*config);
        return false;
    case DKA_MANUAL_SUPPRESSION_CONFIG:
        if (const auto* config = CommandAs<ManualSuppressionConfig>(command, recorder))
            SetEnabled(config->IsEnabled() ? Enabled : Disabled);
        return false;
    case DKA_MANUAL_SUPPRESSION_ID_CONFIG_UPDATED:
        RequestIDConfig();
        return false;
    case DKA_MANUAL_SUPPRESSION_CONFIG_UPDATED:
        RequestConfig();
        return false;
    default:
        AGENT_LOG(kzb::log::Error,
                "Recorder %u - Manual Suppression Handler passed message with unknown DKACMD header. Ignoring...",
                recorder);
        return false;
    }
}

void CManualSuppressionHandler::RequestManualSuppression(Suppression::Action action)
{
    const ClientIdentity identity = GetClientIdentity();
    if (!identity.clientID.empty())
        Connection().Send(std::make_shared<SuppressMessage>(identity.idType, identity.clientID, action));
}

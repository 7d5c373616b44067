#include "RecordOnDemandHandler.h"

#include "Log.h"
#include "protocol/ActionMessages.h"
#include "protocol/SessionMessages.h"
#include "ui/RecordOnDemandDialogModel.h"

namespace {

const CFeatureMessageHandler::Feature RecordOnDemandFeature{
    "CRecordOnDemandHandler", DKA_GET_RECORD_ON_DEMAND_ID_CONFIG, DKA_GET_RECORD_ON_DEMAND_CONFIG,
    DKA_RECORD_ON_DEMAND_ID_CONFIG};

constexpr std::uint32_t Disabled = 1;
constexpr std::uint32_t Enabled = 2;
constexpr std::uint32_t PermanentType = 1;

} // namespace

CRecordOnDemandHandler::CRecordOnDemandHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                                               std::shared_ptr<CTCPComms> connection)
    : CFeatureMessageHandler(recorderNumber, owner, std::move(connection), RecordOnDemandFeature)
{
    AGENT_LOG(kzb::log::Info, "Recorder %u - CRecordOnDemandHandler object created", recorderNumber);
    SetSupportedIDTypes({2, 3, 4, 8, 9});
}

CRecordOnDemandHandler::~CRecordOnDemandHandler()
{
    StopAndJoin();
    const std::uint32_t recorder = GetRecorderNumber();
    if (CRecordOnDemandDialogModel* dialog = m_dialog.Get()) {
        dialog->SetRecordOnDemandEnabled(recorder, Disabled);
        dialog->UnregisterHandler(recorder);
    }
    AGENT_LOG(kzb::log::Info, "Recorder %u - CRecordOnDemandHandler object destroyed", recorder);
}

bool CRecordOnDemandHandler::HandleIDConfig(const IDConfig& config)
{
    const bool result = ApplyIDRule(config);
    if (result) {
        if (CRecordOnDemandDialogModel* dialog = m_dialog.Get())
            dialog->SetRecordOnDemandEnabled(GetRecorderNumber(), Enabled);
    }
    return result;
}

void CRecordOnDemandHandler::HandleRecordOnDemandConfig(const RecordOnDemandConfig& config)
{
    const std::uint32_t recorder = GetRecorderNumber();
    CRecordOnDemandDialogModel* dialog = m_dialog.Get();
    if (const auto rule = config.GetRule()) {
        m_recordOnDemandType = rule->GetType();
        if (dialog)
            dialog->SetRecordOnDemandMode(recorder, rule->GetMode());
    } else {
        AGENT_LOG(kzb::log::Error, "Recorder %u - DKA_RECORD_ON_DEMAND_CONFIG contained no rule", recorder);
    }
    if (dialog)
        dialog->SetRecordOnDemandEnabled(recorder, m_recordOnDemandType == PermanentType ? Enabled : Disabled);
}

bool CRecordOnDemandHandler::HandleCommand(const DKACommand& command)
{
    const std::uint32_t recorder = GetRecorderNumber();
    switch (command.GetCommandID()) {
    case DKA_RECORD_ON_DEMAND_ID_CONFIG:
        if (const auto* config = CommandAs<IDConfig>(command, recorder))
            return HandleIDConfig(*config);
        return false;
    case DKA_RECORD_ON_DEMAND_CONFIG:
        if (const auto* config = CommandAs<RecordOnDemandConfig>(command, recorder))
            HandleRecordOnDemandConfig(*config);
        return false;
    case DKA_RECORD_ON_DEMAND_ID_CONFIG_UPDATED:
        RequestIDConfig();
        return false;
    case DKA_RECORD_ON_DEMAND_CONFIG_UPDATED:
        RequestConfig();
        return false;
    case DKA_RECORD_ON_DEMAND_STATE:
    case DKA_RECORD_ON_DEMAND_DEFAULT_STATE:
        if (const auto* message = CommandAs<StateMessage>(command, recorder)) {
            if (CRecordOnDemandDialogModel* dialog = m_dialog.Get()) {
                if (command.GetCommandID() == DKA_RECORD_ON_DEMAND_STATE)
                    dialog->SetRecordOnDemandState(recorder, message->GetState());
                else
                    dialog->SetRecordOnDemandDefaultState(recorder, message->GetState());
            }
        }
        return false;
    default:
        AGENT_LOG(kzb::log::Error,
                "Recorder %u - Record on Demand Handler passed message with unknown DKACMD header. Ignoring...",
                recorder);
        return false;
    }
}

void CRecordOnDemandHandler::RequestRecordOnDemand(RecordOnDemand::Action action)
{
    const ClientIdentity identity = GetClientIdentity();
    if (!identity.clientID.empty())
        Connection().Send(std::make_shared<RecordOnDemandMessage>(identity.idType, identity.clientID, action));
}

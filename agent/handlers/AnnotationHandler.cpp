#include "AnnotationHandler.h"

#include "GeneralMessageHandler.h"

#include "Log.h"
#include "protocol/ActionMessages.h"
#include "protocol/SessionMessages.h"
#include "ui/AnnotationDialogModel.h"
#include "ui/RecorderStatusTable.h"

namespace {

const CFeatureMessageHandler::Feature Annotation{"CAnnotationHandler", DKA_GET_ANNOTATION_ID_CONFIG,
                                                 DKA_GET_ANNOTATION_CONFIG, DKA_ANNOTATION_ID_CONFIG};

} // namespace

CAnnotationHandler::CAnnotationHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                                       std::shared_ptr<CTCPComms> connection)
    : CFeatureMessageHandler(recorderNumber, owner, std::move(connection), Annotation)
{
    AGENT_LOG(kzb::log::Info, "Recorder %lu - CAnnotationHandler object created",
            static_cast<unsigned long>(recorderNumber));
    SetSupportedIDTypes({2, 3, 4, 5, 8, 9});
}

CAnnotationHandler::~CAnnotationHandler()
{
    StopAndJoin();
    const std::uint32_t recorder = GetRecorderNumber();
    if (CAnnotationDialogModel* dialog = m_dialog.Get()) {
        dialog->SetAnnotationEnabled(recorder, false);
        dialog->SetAnnotationStatus(recorder, AnnotationStatus::NoHandler);
        dialog->UnregisterHandler(recorder);
    }
    AGENT_LOG(kzb::log::Info, "Recorder %u - CAnnotationHandler object destroyed", recorder);
}

void CAnnotationHandler::SetStatus(std::uint32_t status)
{
    if (CAnnotationDialogModel* dialog = m_dialog.Get())
        dialog->SetAnnotationStatus(GetRecorderNumber(), status);
}

void CAnnotationHandler::ResetConfiguration()
{
    m_fields.clear();
    if (CAnnotationDialogModel* dialog = m_dialog.Get())
        dialog->SetAnnotationEnabled(GetRecorderNumber(), true);
}

bool CAnnotationHandler::HandleIDConfig(const IDConfig& config)
{
    m_fields.clear();
    const bool result = ApplyIDRule(config);
    if (!result) {
        SetIDType(DKA::Agent_Name_To_Agent_ID);
        SetStatus(AnnotationStatus::ConfigurationUnusable);
    }
    return result;
}

void CAnnotationHandler::RequestConfig()
{
    m_fields.clear();
    const ClientIdentity identity = GetClientIdentity();
    if (identity.clientID.empty()) {
        SetStatus(AnnotationStatus::ConfigurationUnusable);
        return;
    }
    Connection().Send(std::make_shared<GetTaskConfig>(identity.idType, identity.clientID, DKA_GET_ANNOTATION_CONFIG));
}

void CAnnotationHandler::HandleAnnotationConfig(const AnnotationConfig& config)
{
    const std::uint32_t recorder = GetRecorderNumber();
    bool usable = true;
    m_fields.clear();
    if (const auto rule = config.GetRule()) {
        if (!rule->GetFields().empty()) {
            m_fields = rule->GetFields(); // a copy starts with an empty value
        } else {
            AGENT_LOG(kzb::log::Error, "Recorder %u - Number of Annotation fields is zero. Ignoring message...", recorder);
            usable = false;
        }
    } else {
        AGENT_LOG(kzb::log::Error, "Recorder %u - DKA_ANNOTATION_CONFIG contained no rule", recorder);
    }
    CAnnotationDialogModel* dialog = m_dialog.Get();
    if (!dialog)
        return;
    dialog->SetAnnotationConfiguration(recorder, m_fields);
    if (usable) {
        dialog->SetAnnotationStatus(recorder, AnnotationStatus::ConfigurationInForce);
    } else {
        m_fields.clear();
        dialog->SetAnnotationStatus(recorder, AnnotationStatus::ConfigurationUnusable);
    }
}

bool CAnnotationHandler::HandleCommand(const DKACommand& command)
{
    const std::uint32_t recorder = GetRecorderNumber();
    switch (command.GetCommandID()) {
    case DKA_ANNOTATION_ID_CONFIG:
        if (const auto* config = CommandAs<IDConfig>(command, recorder))
            return HandleIDConfig(*config);
        return false;
    case DKA_ANNOTATION_CONFIG:
        if (const auto* config = CommandAs<AnnotationConfig>(command, recorder))
            HandleAnnotationConfig(*config);
        return false;
    case DKA_ANNOTATION_ID_CONFIG_UPDATED:
        Reinitialize();
        return false;
    case DKA_ANNOTATION_CONFIG_UPDATED:
        RequestConfig();
        return false;
    default:
        AGENT_LOG(kzb::log::Error,
                "Recorder %u - Annotation Handler passed message with unexpected Command ID 0x%08X. Ignoring...",
                recorder, command.GetCommandID());
        return false;
    }
}

bool CAnnotationHandler::RequestAnnotation(const std::vector<AnnotateField>& values)
{
    const std::uint32_t recorder = GetRecorderNumber();
    if (values.empty() || !GetOwner()->IsUpdateAllowed(recorder)) {
        AGENT_LOG(kzb::log::Error, "Recorder %u - Failed to request call annotation due to invalid parameters (no fields)",
                recorder);
        return false;
    }
    const ClientIdentity identity = GetClientIdentity();
    if (identity.clientID.empty())
        return false;
    Connection().Send(std::make_shared<AnnotateMessage>(identity.idType, identity.clientID, values));
    return true;
}

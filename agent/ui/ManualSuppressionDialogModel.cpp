#include "ManualSuppressionDialogModel.h"

#include "Log.h"

void CManualSuppressionDialogModel::SetManualSuppressionEnabled(unsigned recorder, std::uint32_t state)
{
    RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return;
    if (!IsValidRecorder(recorder)) {
        AGENT_LOG(kzb::log::Level::Error, "Recorder %lu - SetManualSuppressionEnabled() Recorder ID invalid\n",
                static_cast<unsigned long>(recorder));
        return;
    }
    table->Set(recorder, &RecorderStatus::manualSuppressionEnabled, state);
}

void CManualSuppressionDialogModel::Start()
{
    ForEachHandler(
        [](unsigned, IManualSuppressionRequester& handler) { handler.RequestManualSuppression(Suppression::Start); });
}

void CManualSuppressionDialogModel::Stop()
{
    ForEachHandler(
        [](unsigned, IManualSuppressionRequester& handler) { handler.RequestManualSuppression(Suppression::End); });
}

bool CManualSuppressionDialogModel::UpdateLayout()
{
    const RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return false;
    const bool visible = table->AnyManualSuppressionEnabled();
    if (visible == m_lastVisible)
        return false;
    m_lastVisible = visible;
    return true;
}

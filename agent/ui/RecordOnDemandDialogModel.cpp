#include "RecordOnDemandDialogModel.h"

#include "Log.h"
#include "StatusText.h"

void CRecordOnDemandDialogModel::SetRecordOnDemandEnabled(unsigned recorder, std::uint32_t state)
{
    RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return;
    if (!IsValidRecorder(recorder)) {
        AGENT_LOG(kzb::log::Level::Error, "Recorder %lu SetRecordOnDemandEnabled() Recorder ID invalid\n",
                static_cast<unsigned long>(recorder));
        return;
    }
    table->Set(recorder, &RecorderStatus::recordOnDemandEnabled, state);
}

template <typename Field>
void CRecordOnDemandDialogModel::SetAndRefresh(unsigned recorder, Field RecorderStatus::*field, std::uint32_t value)
{
    RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return;
    // The table itself ignores other numbers and recorders without an entry.
    table->Set(recorder, field, value);
    // The write woke the views already, perhaps before the text was built again.
    if (UpdateStateText())
        table->NotifyChange();
}

void CRecordOnDemandDialogModel::SetRecordOnDemandMode(unsigned recorder, std::uint32_t mode)
{
    SetAndRefresh(recorder, &RecorderStatus::recordOnDemandMode, mode);
}

void CRecordOnDemandDialogModel::SetRecordOnDemandState(unsigned recorder, std::uint32_t action)
{
    SetAndRefresh(recorder, &RecorderStatus::recordOnDemandAction, action);
}

void CRecordOnDemandDialogModel::SetRecordOnDemandDefaultState(unsigned recorder, std::uint32_t action)
{
    SetAndRefresh(recorder, &RecorderStatus::recordOnDemandDefaultAction, action);
}

bool CRecordOnDemandDialogModel::UpdateStateText()
{
    const RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return false;
    std::lock_guard lock(m_textMutex);
    std::string text = RecordOnDemandStateText(*table);
    if (text == m_stateText)
        return false;
    m_stateText = std::move(text);
    return true;
}

std::string CRecordOnDemandDialogModel::StateText() const
{
    std::lock_guard lock(m_textMutex);
    return m_stateText;
}

void CRecordOnDemandDialogModel::Keep()
{
    ForEachHandler(
        [](unsigned, IRecordOnDemandRequester& handler) { handler.RequestRecordOnDemand(RecordOnDemand::Keep); });
}

void CRecordOnDemandDialogModel::Discard()
{
    ForEachHandler(
        [](unsigned, IRecordOnDemandRequester& handler) { handler.RequestRecordOnDemand(RecordOnDemand::Discard); });
}

bool CRecordOnDemandDialogModel::UpdateLayout()
{
    const RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return false;
    const bool visible = table->AnyRecordOnDemandEnabled();
    if (visible == m_lastVisible)
        return false;
    m_lastVisible = visible;
    return true;
}

#include "StatusImage.h"

#include "Strings.h"
#include "resource.h"

StatusImage ChooseStatusImage(const RecorderStatusTable& table)
{
    if (table.AnyCallState(4))
        return {IDB_STATUS_UNAVAILABLE, strings::EventFeedUnavailableId, strings::EventFeedUnavailable};
    if (table.AnyCallState(8))
        return {IDB_STATUS_UNAVAILABLE, strings::NotConfiguredId, strings::NotConfigured};
    if (table.AnyCallState(16))
        return {IDB_STATUS_DISCARDING, strings::DiscardingId, strings::Discarding};
    if (table.AnyCallState(2))
        return {IDB_STATUS_SUPPRESSING, strings::SuppressingId, strings::Suppressing};
    if (table.AnyCallState(1))
        return {IDB_STATUS_RECORDING, strings::RecordingId, strings::Recording};
    return {IDB_STATUS_IDLE, strings::IdleId, strings::Idle};
}

bool StatusImageLayout::UpdateLayout()
{
    if (m_statusTable == nullptr)
        return false;
    const bool visible = m_statusTable->AnyManualSuppressionEnabled() || m_statusTable->AnyRecordOnDemandEnabled();
    if (visible == m_lastVisible)
        return false;
    m_lastVisible = visible;
    return true;
}

#include "StatusImage.h"

#include "Strings.h"

StatusImage ChooseStatusImage(const RecorderStatusTable& table)
{
    if (table.AnyCallState(4))
        return {resource::UnavailableBitmap, resource::EventFeedUnavailableString, strings::EventFeedUnavailable};
    if (table.AnyCallState(8))
        return {resource::UnavailableBitmap, resource::NotConfiguredString, strings::NotConfigured};
    if (table.AnyCallState(16))
        return {resource::DiscardingBitmap, resource::DiscardingString, strings::Discarding};
    if (table.AnyCallState(2))
        return {resource::SuppressingBitmap, resource::SuppressingString, strings::Suppressing};
    if (table.AnyCallState(1))
        return {resource::RecordingBitmap, resource::RecordingString, strings::Recording};
    return {resource::IdleBitmap, resource::IdleString, strings::Idle};
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

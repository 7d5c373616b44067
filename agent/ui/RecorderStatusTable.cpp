#include "RecorderStatusTable.h"

#include <algorithm>

bool RecorderStatus::SameState(const RecorderStatus& other) const
{
    RecorderStatus mine = *this;
    mine.address = other.address;
    return mine == other;
}

void RecorderStatusTable::AddEntry(unsigned recorder, const std::string& address)
{
    std::lock_guard lock(m_mutex);
    RecorderStatus entry;
    entry.address = address;
    m_entries[recorder] = entry;
}

bool RecorderStatusTable::HasEntry(unsigned recorder) const
{
    std::lock_guard lock(m_mutex);
    return m_entries.count(recorder) != 0;
}

RecorderStatusTable::Entries RecorderStatusTable::GetEntries() const
{
    std::lock_guard lock(m_mutex);
    return m_entries;
}

template <typename Predicate>
bool RecorderStatusTable::Any(Predicate predicate) const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const auto& entry) { return predicate(entry.second); });
}

template <typename Field>
Field RecorderStatusTable::Largest(Field RecorderStatus::*field) const
{
    std::lock_guard lock(m_mutex);
    Field largest{};
    for (const auto& entry : m_entries)
        largest = std::max(largest, entry.second.*field);
    return largest;
}

bool RecorderStatusTable::AnyHandlerActive() const
{
    return Any([](const RecorderStatus& s) { return s.handlerActive; });
}

bool RecorderStatusTable::AnyAnnotationEnabled() const
{
    return Any([](const RecorderStatus& s) { return s.annotationEnabled; });
}

std::uint32_t RecorderStatusTable::LargestAnnotationStatus() const
{
    return Largest(&RecorderStatus::annotationStatus);
}

bool RecorderStatusTable::AnyManualSuppressionEnabled() const
{
    return Any([](const RecorderStatus& s) { return s.manualSuppressionEnabled == 2; });
}

bool RecorderStatusTable::AnyRecordOnDemandEnabled() const
{
    return Any([](const RecorderStatus& s) { return s.recordOnDemandEnabled == 2; });
}

bool RecorderStatusTable::AnyCallState(std::uint32_t mask) const
{
    return Any([mask](const RecorderStatus& s) { return (s.callState & mask) == mask; });
}

bool RecorderStatusTable::AnyRecordOnDemandMode(std::uint32_t mode) const
{
    return Any([mode](const RecorderStatus& s) { return s.recordOnDemandMode == mode; });
}

std::uint32_t RecorderStatusTable::LargestRecordOnDemandAction() const
{
    return Largest(&RecorderStatus::recordOnDemandAction);
}

std::uint32_t RecorderStatusTable::LargestRecordOnDemandDefaultAction() const
{
    return Largest(&RecorderStatus::recordOnDemandDefaultAction);
}

std::uint32_t RecorderStatusTable::SmallestStateTimeout() const
{
    std::lock_guard lock(m_mutex);
    std::uint32_t smallest = 0;
    for (const auto& entry : m_entries) {
        const std::uint32_t timeout = entry.second.stateTimeout;
        if (timeout != 0 && (smallest == 0 || timeout < smallest))
            smallest = timeout;
    }
    return smallest == 0 ? 2 : smallest;
}

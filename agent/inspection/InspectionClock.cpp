#include "InspectionClock.h"

#include <algorithm>

namespace kzb::inspection {

InspectionClock::Member::~Member()
{
    m_clock.Leave(m_id);
}

InspectionClock::~InspectionClock()
{
    std::unique_ptr<DesktopWatcher> watcher;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        watcher = std::move(m_watcher);
    }
}

std::unique_ptr<InspectionClock::Member> InspectionClock::Join(std::function<void()> wake)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::uint64_t id = m_nextId++;
    m_participants[id] = Participant{std::move(wake), m_moment};
    if (!m_watcher)
        m_watcher = GetDesktop()->Watch([this] { DesktopChanged(); });
    return std::unique_ptr<Member>(new Member(*this, id));
}

void InspectionClock::Leave(std::uint64_t id)
{
    std::unique_ptr<DesktopWatcher> watcher;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_participants.erase(id);
        if (m_participants.empty()) {
            watcher = std::move(m_watcher);
            m_snapshot.reset();
        }
    }
    // Stopped outside the lock: its thread may be waiting for it to report a change.
}

void InspectionClock::DesktopChanged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_changedAt)
        return; // the handlers know already: one wake-up for a burst
    m_changedAt = std::chrono::steady_clock::now();
    for (const auto& [id, participant] : m_participants)
        participant.wake();
}

InspectionClock::Time InspectionClock::DueLocked(const Participant& participant) const
{
    if (m_moment > participant.lastMoment)
        return m_momentTime; // a moment is waiting for it: due since it was taken
    Time due = m_momentTime + Period;
    if (m_changedAt)
        due = std::min(due, std::max(*m_changedAt, m_momentTime + Spacing));
    return due;
}

InspectionClock::Time InspectionClock::NextDue(const Member& member)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto participant = m_participants.find(member.m_id);
    return participant == m_participants.end() ? std::chrono::steady_clock::now() + Period
                                               : DueLocked(participant->second);
}

std::shared_ptr<CachingDesktop> InspectionClock::Take(const Member& member, Time now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_participants.find(member.m_id);
    if (found == m_participants.end())
        return nullptr;
    Participant& participant = found->second;
    Participant current = participant;
    current.lastMoment = m_moment; // as if it had seen the latest moment: is a new one due?
    if (now >= DueLocked(current)) {
        ++m_moment;
        m_momentTime = now;
        m_changedAt.reset();
        m_snapshot = std::make_shared<CachingDesktop>(GetDesktop());
    } else if (m_moment <= participant.lastMoment) {
        return nullptr;
    }
    participant.lastMoment = m_moment;
    return m_snapshot;
}

std::uint64_t InspectionClock::Moments()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_moment;
}

void InspectionClock::Inspected()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_inspections;
    }
    m_inspected.notify_all();
}

std::uint64_t InspectionClock::Inspections()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inspections;
}

bool InspectionClock::WaitForInspections(std::uint64_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_inspected.wait_for(lock, timeout, [&] { return m_inspections >= count; });
}

bool InspectionClock::WatchingDesktop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_watcher != nullptr;
}

} // namespace kzb::inspection

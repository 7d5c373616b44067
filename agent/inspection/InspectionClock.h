#pragma once

#include "DesktopWatcher.h"
#include "InspectionSnapshot.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace kzb::inspection {

// When the suppression handlers look at the desktop, and what they look at. There is one
// moment of inspection every period, and one soon after each change the desktop reports
// (never closer than the spacing to the moment before, however many changes come); each
// moment has one snapshot, shared by every handler. So both recorders' handlers judge the
// same desktop at the same moment, and the desktop is read once for all of them.
//
// Each handler still inspects on its own thread, when it gets to it: a handler that is
// slow or whose recorder is away holds up nobody else.
class InspectionClock
{
public:
    using Time = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::milliseconds Period{500};
    static constexpr std::chrono::milliseconds Spacing{20};

    // A handler taking part, from Join until it is destroyed (then it is never woken again).
    class Member
    {
    public:
        ~Member();
        Member(const Member&) = delete;
        Member& operator=(const Member&) = delete;

    private:
        friend class InspectionClock;
        Member(InspectionClock& clock, std::uint64_t id) : m_clock(clock), m_id(id) {}
        InspectionClock& m_clock;
        const std::uint64_t m_id;
    };

    InspectionClock() = default;
    ~InspectionClock();
    InspectionClock(const InspectionClock&) = delete;
    InspectionClock& operator=(const InspectionClock&) = delete;

    // wake is called (on another thread, briefly) when the desktop changed and the member's
    // next moment came closer. The first member starts watching the desktop, the last one
    // to go stops it.
    std::unique_ptr<Member> Join(std::function<void()> wake);

    // When the member is next to inspect (now or earlier when a moment is waiting for it).
    Time NextDue(const Member& member);
    // The snapshot of the moment the member is to inspect now; null when none is due.
    std::shared_ptr<CachingDesktop> Take(const Member& member, Time now);

    // Something other than the desktop changed what an inspection would find (new
    // triggers): a moment comes soon, as after a desktop change.
    void DesktopChanged();

    // A member finished an inspection (whatever it found).
    void Inspected();

    // Moments and finished inspections so far, for tests and figures.
    std::uint64_t Moments();
    std::uint64_t Inspections();
    // True once Inspections() reached count; false when the time-out passed first.
    bool WaitForInspections(std::uint64_t count, std::chrono::milliseconds timeout);
    bool WatchingDesktop();

private:
    struct Participant
    {
        std::function<void()> wake;
        std::uint64_t lastMoment = 0;
    };

    void Leave(std::uint64_t id);
    Time DueLocked(const Participant& participant) const;

    std::mutex m_mutex;
    std::map<std::uint64_t, Participant> m_participants;
    std::uint64_t m_nextId = 1;
    std::uint64_t m_moment = 0;
    Time m_momentTime{};
    std::shared_ptr<CachingDesktop> m_snapshot;
    std::optional<Time> m_changedAt; // a change reported since the last moment
    std::uint64_t m_inspections = 0;
    std::condition_variable m_inspected;
    std::unique_ptr<DesktopWatcher> m_watcher;
};

} // namespace kzb::inspection

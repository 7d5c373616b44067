#include "Clock.h"

#include <chrono>
#include <thread>

namespace kzb {

SystemClock& SystemClock::Instance()
{
    static SystemClock clock;
    return clock;
}

std::int64_t SystemClock::Now() const
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::NowMilliseconds() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SystemClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t deadline,
                            const std::function<bool()>& woken)
{
    const auto until = std::chrono::system_clock::time_point(std::chrono::seconds(deadline));
    while (!woken() && Now() < deadline)
        cv.wait_until(lock, until);
}

void ManualClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t deadline,
                            const std::function<bool()>& woken)
{
    for (;;) {
        // The count first: a waiter that saw it has seen at least that Advance's time.
        const std::uint64_t advances = m_advances.load();
        if (woken() || Now() >= deadline)
            return;
        m_waitingSince.store(advances);
        cv.wait_for(lock, std::chrono::milliseconds(1));
    }
}

bool ManualClock::WaitUntilAWaiterWaitsOn(std::chrono::milliseconds timeout) const
{
    const std::uint64_t advances = m_advances.load();
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (m_waitingSince.load() < advances) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace kzb

#include "Clock.h"

#include <chrono>

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
    while (!woken() && Now() < deadline)
        cv.wait_for(lock, std::chrono::milliseconds(1));
}

} // namespace kzb

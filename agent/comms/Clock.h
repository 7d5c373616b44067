#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace kzb {

// Wall-clock seconds for the connection's long waits (retry, heartbeat, reconnect), so that
// tests can let 30 seconds pass at once.
class Clock
{
public:
    virtual ~Clock() = default;
    // Seconds since 1970.
    virtual std::int64_t Now() const = 0;
    // Milliseconds since 1970, for times that must not be cut to whole seconds.
    virtual std::int64_t NowMilliseconds() const { return Now() * 1000; }
    // Waits on cv (lock held) until woken() is true or Now() reaches deadline.
    virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t deadline,
                           const std::function<bool()>& woken) = 0;
};

class SystemClock final : public Clock
{
public:
    static SystemClock& Instance();
    std::int64_t Now() const override;
    std::int64_t NowMilliseconds() const override;
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t deadline,
                   const std::function<bool()>& woken) override;
};

// A clock that moves only when told (tests). Waiters look at it every millisecond.
class ManualClock final : public Clock
{
public:
    explicit ManualClock(std::int64_t start = 1'700'000'000) : m_now(start) {}
    std::int64_t Now() const override { return m_now.load(); }
    void Advance(std::int64_t seconds)
    {
        m_now += seconds;
        ++m_advances;
    }
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t deadline,
                   const std::function<bool()>& woken) override;
    // Waits (in real time, at most timeout) until a waiter has seen the time of the last
    // Advance and gone on waiting: after that, a test may assert that the time was not yet
    // enough. False when no waiter did (it was woken, or its deadline had passed).
    bool WaitUntilAWaiterWaitsOn(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    std::atomic<std::int64_t> m_now;
    std::atomic<std::uint64_t> m_advances{0};
    std::atomic<std::uint64_t> m_waitingSince{0}; // the Advance count a waiter last went on waiting at
};

} // namespace kzb

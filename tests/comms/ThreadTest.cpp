#include "comms/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Long enough for any machine; reached only when the code under test is broken.
constexpr auto Bound = 20s;

template <typename Condition>
bool WaitUntil(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + Bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs until stopped; counts its bodies, how many run at once and the order of events, and
// remembers the id it ran under. After seeing the stop, a body waits at a gate the test opens.
class LoopThread : public CThread
{
public:
    ~LoopThread() override
    {
        Open();
        Stop();
        Join();
    }

    void Open()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_opened.notify_all();
    }
    int Tick() { return ++ticks; }

    std::atomic<int> ticks{0};
    std::atomic<int> bodies{0};
    std::atomic<int> active{0};
    std::atomic<int> mostActive{0};
    std::atomic<int> stopsSeen{0};
    std::atomic<int> firstEnded{0}; // the tick at which the first body returned
    std::atomic<std::uint32_t> seenId{0};

private:
    unsigned Run() override
    {
        const int now = ++active;
        for (int most = mostActive; now > most && !mostActive.compare_exchange_weak(most, now);) {
        }
        seenId = kzb::CurrentThreadId();
        const int body = ++bodies;
        while (IsRunning())
            std::this_thread::sleep_for(1ms);
        ++stopsSeen;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_opened.wait(lock, [&] { return m_open; });
        }
        --active;
        if (body == 1)
            firstEnded = Tick();
        return 0;
    }

    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};

TEST(CThread, IdIsTheOperatingSystemsAndZeroBeforeStart)
{
    LoopThread thread;
    thread.Open();
    EXPECT_EQ(thread.GetThreadId(), 0u);
    thread.Join(); // nothing to join
    thread.Start();
    EXPECT_TRUE(thread.IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return thread.bodies == 1; }));
    EXPECT_NE(thread.GetThreadId(), 0u);
    EXPECT_EQ(thread.GetThreadId(), thread.seenId.load());
    EXPECT_NE(thread.GetThreadId(), kzb::CurrentThreadId());
    thread.Stop();
    thread.Join();
    EXPECT_FALSE(thread.IsRunning());
}

// The first body has seen its stop and is held at the gate when a second Start comes from
// another thread: that Start must return only after the first body has ended, and the
// second body must not run beside the first.
TEST(CThread, SecondStartWaitsForTheFirstThreadToEnd)
{
    LoopThread thread;
    thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return thread.bodies == 1; }));
    thread.Stop();
    ASSERT_TRUE(WaitUntil([&] { return thread.stopsSeen == 1; }));
    std::atomic<bool> calling{false};
    std::atomic<int> startReturned{0};
    auto second = std::async(std::launch::async, [&] {
        calling = true;
        thread.Start();
        startReturned = thread.Tick();
    });
    ASSERT_TRUE(WaitUntil([&] { return calling.load(); }));
    std::this_thread::yield();
    thread.Open();
    ASSERT_EQ(second.wait_for(Bound), std::future_status::ready) << "Start never returned";
    ASSERT_TRUE(WaitUntil([&] { return thread.bodies == 2; }));
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_LT(thread.firstEnded.load(), startReturned.load()) << "Start returned while the first thread still ran";
    EXPECT_EQ(thread.mostActive.load(), 1) << "two bodies ran at once";
}

TEST(CThread, StopThenStartWithoutJoinRunsOneThreadAtATime)
{
    for (int round = 0; round < 20; ++round) {
        LoopThread thread;
        thread.Open();
        thread.Start();
        ASSERT_TRUE(WaitUntil([&] { return thread.bodies == 1; }));
        thread.Stop();
        thread.Start();
        ASSERT_TRUE(WaitUntil([&] { return thread.bodies == 2; })) << "the second body never ran";
        EXPECT_TRUE(thread.IsRunning());
        ASSERT_EQ(thread.mostActive.load(), 1) << "two bodies ran at once (round " << round << ")";
    }
}

// Every step takes a tick: the other thread's lock must come after the outer release, not
// after the inner one. It asks for the lock before either release.
TEST(MutexLock, TheHolderMayLockAgainAndOthersWaitForTheLastRelease)
{
    kzb::Mutex mutex;
    std::atomic<int> ticks{0};
    std::atomic<bool> asking{false};
    int innerReleased = 0;
    int outerReleased = 0;
    std::future<int> taken;
    {
        MutexLock outer(&mutex);
        {
            MutexLock inner(&mutex); // same thread: no deadlock
            taken = std::async(std::launch::async, [&] {
                asking = true;
                MutexLock lock(&mutex);
                return ++ticks;
            });
            ASSERT_TRUE(WaitUntil([&] { return asking.load(); }));
            std::this_thread::yield();
            innerReleased = ++ticks;
        }
        std::this_thread::yield();
        outerReleased = ++ticks;
    }
    ASSERT_EQ(taken.wait_for(Bound), std::future_status::ready) << "the lock was never taken";
    const int takenAt = taken.get();
    EXPECT_GT(takenAt, innerReleased);
    EXPECT_GT(takenAt, outerReleased) << "taken while the outer lock was still held";
}

TEST(MutexLock, NoMutexThrowsTheLockText)
{
    try {
        MutexLock lock(nullptr);
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()).rfind("MutexLock - Unable to acquire lock, Result: ", 0), 0u) << error.what();
    }
}

} // namespace

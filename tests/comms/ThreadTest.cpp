#include "comms/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Runs until stopped; counts its bodies and remembers the id it ran under.
class LoopThread : public CThread
{
public:
    ~LoopThread() override
    {
        Stop();
        Join();
    }

    std::atomic<int> bodies{0};
    std::atomic<std::uint32_t> seenId{0};

private:
    unsigned Run() override
    {
        seenId = kzb::CurrentThreadId();
        ++bodies;
        while (IsRunning())
            std::this_thread::sleep_for(1ms);
        return 0;
    }
};

TEST(CThread, IdIsTheOperatingSystemsAndZeroBeforeStart)
{
    LoopThread thread;
    EXPECT_EQ(thread.GetThreadId(), 0u);
    thread.Join(); // nothing to join
    thread.Start();
    EXPECT_TRUE(thread.IsRunning());
    while (thread.bodies == 0)
        std::this_thread::sleep_for(1ms);
    EXPECT_NE(thread.GetThreadId(), 0u);
    EXPECT_EQ(thread.GetThreadId(), thread.seenId.load());
    EXPECT_NE(thread.GetThreadId(), kzb::CurrentThreadId());
    thread.Stop();
    thread.Join();
    EXPECT_FALSE(thread.IsRunning());
}

TEST(CThread, SecondStartWaitsForTheFirstThreadToEnd)
{
    LoopThread thread;
    thread.Start();
    auto second = std::async(std::launch::async, [&] { thread.Start(); });
    EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout) << "Start must join the running thread first";
    thread.Stop();
    second.get();
    while (thread.bodies < 2)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(thread.IsRunning());
}

TEST(CThread, StopThenStartWithoutJoinRunsOneThreadAtATime)
{
    LoopThread thread;
    thread.Start();
    thread.Stop();
    thread.Start();
    while (thread.bodies < 2)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(thread.bodies.load(), 2);
}

TEST(MutexLock, TheHolderMayLockAgainAndOthersWaitForTheLastRelease)
{
    kzb::Mutex mutex;
    std::atomic<bool> taken{false};
    std::future<void> other;
    {
        MutexLock outer(&mutex);
        {
            MutexLock inner(&mutex); // same thread: no deadlock
        }
        other = std::async(std::launch::async, [&] {
            MutexLock lock(&mutex);
            taken = true;
        });
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(taken.load()) << "the outer lock is still held";
    }
    other.get();
    EXPECT_TRUE(taken.load());
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

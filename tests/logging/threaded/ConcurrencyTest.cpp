// Several threads logging through one logger: nothing is lost, nothing is torn, and
// Setup and Shutdown may happen while they log.
#include "KZBLogging.h"
#include "KZBLogThis.h"
#include "support/Modules.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <thread>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr int kThreads = 4;
constexpr int kPerThread = 2000;

void LogNumbered(kzb::logging::ModuleHandle module, int thread, int count)
{
    for (int i = 0; i < count; ++i)
        CreateLogMessage(0, __FILE__, __LINE__, static_cast<std::uint32_t>(thread), module)->Printf("thread %d message %d", thread, i);
}

// Every thread's messages are in the file exactly once; each thread's in its own order
// when inOrder is set.
void ExpectAllLines(const fs::path& file, int threads, int perThread, bool inOrder)
{
    const std::regex pattern(R"(\[ERROR\] - thread (\d+) message (\d+)$)");
    std::map<int, std::vector<int>> seen;
    for (const auto& line : ReadLines(file)) {
        std::smatch match;
        if (std::regex_search(line, match, pattern))
            seen[std::stoi(match[1])].push_back(std::stoi(match[2]));
    }
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(threads));
    for (auto& [thread, numbers] : seen) {
        ASSERT_EQ(numbers.size(), static_cast<std::size_t>(perThread)) << "thread " << thread;
        if (!inOrder)
            std::sort(numbers.begin(), numbers.end());
        for (int i = 0; i < perThread; ++i)
            ASSERT_EQ(numbers[i], i) << "thread " << thread;
    }
}

class Concurrency : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetFixedRoot();
        logFile = ScratchFolder() / "agent.txt";
    }

    fs::path logFile;
};

TEST_F(Concurrency, ThreadsLoggingThenShutdownLoseNothing)
{
    LoggerScope scope(FakeModule(1));
    ::Setup(logFile.string().c_str(), scope.Module());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(LogNumbered, scope.Module(), t, kPerThread);
    for (auto& thread : threads)
        thread.join();
    ::Shutdown(scope.Module());
    ExpectAllLines(logFile, kThreads, kPerThread, true);
}

TEST_F(Concurrency, ShutdownWhileThreadsLogLosesNothing)
{
    LoggerScope scope(FakeModule(2));
    ::Setup(logFile.string().c_str(), scope.Module());
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++started;
            LogNumbered(scope.Module(), t, kPerThread);
        });
    }
    while (started < kThreads)
        std::this_thread::yield();
    ::Shutdown(scope.Module());
    for (auto& thread : threads)
        thread.join();
    ExpectAllLines(logFile, kThreads, kPerThread, false);
}

TEST_F(Concurrency, SetupWhileThreadsLogLosesNothing)
{
    LoggerScope scope(FakeModule(3));
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++started;
            LogNumbered(scope.Module(), t, kPerThread);
        });
    }
    while (started < kThreads)
        std::this_thread::yield();
    ::Setup(logFile.string().c_str(), scope.Module());
    for (auto& thread : threads)
        thread.join();
    ::Shutdown(scope.Module());
    ExpectAllLines(logFile, kThreads, kPerThread, false);
}

TEST_F(Concurrency, CallersWriteThemselvesWhenTheQueueIsOff)
{
    const fs::path self = ModuleFile(kzb::logging::ThisModule());
    WriteText(testing_support::FixedConfigFolder() / ReplacedConfig(self).filename(), "[KZBLogging]\nLogQueue=0\n");
    LoggerScope scope(kzb::logging::ThisModule());
    ASSERT_FALSE(GetLogger(scope.Module())->IsRunning());
    ::Setup(logFile.string().c_str(), scope.Module());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(LogNumbered, scope.Module(), t, kPerThread);
    for (auto& thread : threads)
        thread.join();
    ExpectAllLines(logFile, kThreads, kPerThread, true);
}

TEST_F(Concurrency, FirstUseFromManyThreadsCreatesOneLogger)
{
    LoggerScope scope(FakeModule(4));
    std::atomic<bool> go{false};
    std::vector<kzb::logging::ILogger*> found(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < found.size(); ++t) {
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            found[t] = GetLogger(scope.Module());
        });
    }
    go = true;
    for (auto& thread : threads)
        thread.join();
    ASSERT_NE(found[0], nullptr);
    for (auto* logger : found)
        EXPECT_EQ(logger, found[0]);
    EXPECT_EQ(GetLogger(scope.Module()), found[0]) << "the logger made first is the one kept";
}

TEST_F(Concurrency, LevelChangesWhileThreadsLog)
{
    LoggerScope scope(FakeModule(5));
    ::Setup(logFile.string().c_str(), scope.Module());
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; !done; ++i) {
            SetLogLevel(i % 2 == 0 ? 0 : 4, scope.Module());
            static_cast<void>(LogLevel(scope.Module()));
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(LogNumbered, scope.Module(), t, kPerThread / 4);
    for (auto& thread : threads)
        thread.join();
    done = true;
    changer.join();
    ::Shutdown(scope.Module());
    // ERROR passes at 0 and at 4 alike.
    ExpectAllLines(logFile, kThreads, kPerThread / 4, true);
}

} // namespace

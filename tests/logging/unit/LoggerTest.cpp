// The logger: queue and writer thread, Setup and Shutdown, appenders, its own lines.
#include "KZBLogThis.h"
#include "Logger.h"
#include "LoggerManager.h"
#include "platform/System.h"
#include "support/Modules.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace testing_support;
using namespace kzb::logging;
namespace fs = std::filesystem;

namespace {

// A module-0 message, which the test hands to a logger itself.
ILogMessage* Message(std::int32_t level, const char* text)
{
    ILogMessage* message = CreateLogMessage(level, "LoggerTest.cpp", 1, 1, nullptr);
    message->Printf("%s", text);
    return message;
}

// Keeps the lines it is given; tells when it is deleted.
class Recorder : public ILogAppender
{
public:
    explicit Recorder(std::atomic<bool>* deleted = nullptr) : m_deleted(deleted) {}
    ~Recorder() override
    {
        if (m_deleted != nullptr)
            *m_deleted = true;
    }
    void Write(const ILogMessage& message) override
    {
        std::lock_guard lock(m_lock);
        m_texts.push_back(message.Text());
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard lock(m_lock);
        return m_texts;
    }

private:
    std::atomic<bool>* m_deleted;
    std::mutex m_lock;
    std::vector<std::string> m_texts;
};

class LoggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetFixedRoot();
        RemoveConfigBeside(self);
        folder = ScratchFolder();
        logFile = folder / "agent.txt";
    }
    void TearDown() override { RemoveConfigBeside(self); }

    std::string LogPath() const { return platform::NarrowFromPath(logFile); }
    std::vector<std::string> Lines() const { return ReadLines(logFile); }
    // Gives the test program's own module a configuration file in the fixed folder.
    void Configure(const std::string& text) { WriteText(testing_support::FixedConfigFolder() / ReplacedConfig(self).filename(), text); }

    const fs::path self = ModuleFile(kzb::logging::ThisModule());
    SharedSyslogConfig syslog;
    MessagePool pool;
    fs::path folder;
    fs::path logFile;
};

TEST_F(LoggerTest, WhatWasLoggedBeforeSetupIsWrittenBySetupAfterTheStartUpLine)
{
    Logger logger(FakeModule(1), syslog, pool);
    EXPECT_TRUE(logger.IsRunning());
    logger.Log(Message(0, "first"));
    logger.Log(Message(2, "second"));
    EXPECT_FALSE(fs::exists(logFile));
    logger.Setup(LogPath().c_str());
    const auto lines = Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[0].find("[PRINT] - Using default log level WARNING"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("Logger.cpp("), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("[ERROR] - first"), std::string::npos);
    EXPECT_NE(lines[2].find("[WARNING] - second"), std::string::npos);
}

TEST_F(LoggerTest, AcceptedMessageReachesTheFileSoonThroughTheWriter)
{
    Logger logger(FakeModule(1), syslog, pool);
    logger.Setup(LogPath().c_str());
    for (int round = 0; round < 3; ++round) {
        const std::string text = "round " + std::to_string(round);
        logger.Log(Message(0, text.c_str()));
        EXPECT_TRUE(WaitFor([&] { return Contains(Lines(), text); })) << text;
    }
}

TEST_F(LoggerTest, StartUpLineNamesTheLevelAndWhereItCameFrom)
{
    const struct { const char* level; const char* line; } cases[] = {
        {"WARNING", "[PRINT] - Using default log level WARNING"},
        {"INFO", "[PRINT] - Apply log level INFO from "},
        {"PRINT", "[PRINT] - Apply log level PRINT from "},
        {"ERROR", nullptr}, // its own level filters it out
    };
    for (const auto& c : cases) {
        Configure(std::string("[KZBLogging]\nLogLevel=") + c.level + "\n");
        std::error_code error;
        fs::remove(logFile, error);
        Logger logger(kzb::logging::ThisModule(), syslog, pool);
        logger.Setup(LogPath().c_str());
        const auto lines = Lines();
        if (c.line == nullptr) {
            EXPECT_FALSE(Contains(lines, "log level")) << c.level;
            continue;
        }
        ASSERT_FALSE(lines.empty()) << c.level;
        EXPECT_NE(lines[0].find(c.line), std::string::npos) << lines[0];
        if (std::string(c.level) != "WARNING") {
            EXPECT_NE(lines[0].find(platform::NarrowFromPath(logger.ConfigPath())), std::string::npos) << lines[0];
        }
    }
}

TEST_F(LoggerTest, QueueSwitchOffWritesInTheCallersThread)
{
    Configure("[KZBLogging]\nLogQueue=0\n");
    Logger logger(kzb::logging::ThisModule(), syslog, pool);
    EXPECT_FALSE(logger.IsRunning());
    logger.Log(Message(0, "queued until Setup"));
    logger.Setup(LogPath().c_str());
    EXPECT_TRUE(Contains(Lines(), "queued until Setup"));
    logger.Log(Message(0, "written at once"));
    EXPECT_TRUE(Contains(Lines(), "written at once"));
}

TEST_F(LoggerTest, StopLinesOnlyAtInfoAndAbove)
{
    const struct { std::int32_t level; bool written; } cases[] = {{2, false}, {3, false}, {4, true}, {5, true}};
    for (const auto& c : cases) {
        std::error_code error;
        fs::remove(logFile, error);
        Logger logger(FakeModule(1), syslog, pool);
        logger.SetLogLevel(c.level);
        logger.Setup(LogPath().c_str());
        logger.Shutdown();
        EXPECT_FALSE(logger.IsRunning());
        const auto lines = Lines();
        EXPECT_EQ(Contains(lines, "[INFO] - Shutting down Logger thread"), c.written) << c.level;
        EXPECT_EQ(Contains(lines, "[INFO] - Logger thread finished"), c.written) << c.level;
        if (c.written) {
            EXPECT_NE(lines.back().find("Logger thread finished"), std::string::npos);
        }
    }
}

TEST_F(LoggerTest, AfterShutdownEachMessageIsWrittenBeforeLogReturns)
{
    Logger logger(FakeModule(1), syslog, pool);
    logger.Setup(LogPath().c_str());
    logger.Shutdown();
    logger.Shutdown(); // a second time does nothing
    logger.Log(Message(0, "direct"));
    EXPECT_TRUE(Contains(Lines(), "direct"));
}

TEST_F(LoggerTest, ShutdownBeforeSetupKeepsTheQueueForSetup)
{
    Logger logger(FakeModule(1), syslog, pool);
    logger.Log(Message(0, "early"));
    logger.Shutdown();
    logger.Setup(LogPath().c_str());
    EXPECT_TRUE(Contains(Lines(), "early"));
    EXPECT_TRUE(Contains(Lines(), "Using default log level"));
}

TEST_F(LoggerTest, SecondSetupChangesNothing)
{
    Logger logger(FakeModule(1), syslog, pool);
    logger.Setup(LogPath().c_str());
    const fs::path other = folder / "other.txt";
    logger.Setup(platform::NarrowFromPath(other).c_str());
    logger.Log(Message(0, "still the first file"));
    logger.Shutdown();
    EXPECT_TRUE(Contains(Lines(), "still the first file"));
    EXPECT_FALSE(fs::exists(other));
}

TEST_F(LoggerTest, LevelFilterInLog)
{
    Logger logger(FakeModule(1), syslog, pool);
    auto* recorder = new Recorder;
    logger.AddAppender(recorder);
    logger.Log(Message(3, "message level"));
    logger.Log(Message(2, "warning level"));
    logger.Log(Message(5, "trace level"));
    logger.Log(nullptr);
    logger.Shutdown();
    EXPECT_EQ(recorder->Texts(), (std::vector<std::string>{"Using default log level WARNING", "warning level", "trace level"}));
}

TEST_F(LoggerTest, AppendersAreOwnedRemovedAndCleared)
{
    std::atomic<bool> firstDeleted{false};
    std::atomic<bool> secondDeleted{false};
    auto* first = new Recorder(&firstDeleted);
    auto* second = new Recorder(&secondDeleted);
    {
        Logger logger(FakeModule(1), syslog, pool);
        logger.AddAppender(first);
        logger.AddAppender(first); // owned once, deleted once
        logger.AddAppender(second);
        logger.Log(Message(0, "to both"));
        EXPECT_TRUE(WaitFor([&] { return second->Texts().size() == 2; }));

        logger.RemoveAppender(second);
        EXPECT_FALSE(secondDeleted);
        logger.Log(Message(0, "to the first"));
        EXPECT_TRUE(WaitFor([&] { return first->Texts().size() == 3; }));
        EXPECT_EQ(second->Texts().size(), 2u);

        logger.Shutdown();
        logger.ClearAppenders();
        EXPECT_TRUE(firstDeleted);
        logger.Log(Message(0, "kept for the next appenders"));
        logger.Setup(LogPath().c_str());
    }
    EXPECT_TRUE(Contains(Lines(), "kept for the next appenders"));
    delete second;
    EXPECT_TRUE(secondDeleted);
}

TEST_F(LoggerTest, FullQueueDropsAfterItsWait)
{
    // Room for the start-up line and two more; no appender, so nothing leaves the queue.
    Logger logger(FakeModule(1), syslog, pool, 3);
    logger.Log(Message(0, "one"));
    logger.Log(Message(0, "two"));
    logger.Log(Message(0, "three"));
    logger.Setup(LogPath().c_str());
    logger.Log(Message(0, "four"));
    logger.Shutdown();
    const auto lines = Lines();
    EXPECT_TRUE(Contains(lines, "one"));
    EXPECT_TRUE(Contains(lines, "two"));
    EXPECT_FALSE(Contains(lines, "three"));
    EXPECT_TRUE(Contains(lines, "four"));
    // The loss is counted and said once the writer has stopped.
    EXPECT_TRUE(Contains(lines, "[ERROR] - Log queue was full: 1 message(s) dropped"));
}

TEST_F(LoggerTest, DestroyingWithTheWriterRunningWritesEverything)
{
    {
        Logger logger(FakeModule(1), syslog, pool);
        logger.Setup(LogPath().c_str());
        for (int i = 0; i < 200; ++i)
            logger.Log(Message(0, ("burst " + std::to_string(i)).c_str()));
    }
    EXPECT_EQ(CountContaining(Lines(), "burst "), 200u);
    EXPECT_FALSE(Contains(Lines(), "dropped"));
}

TEST_F(LoggerTest, DestroyLoggerLogsAndTheNextRequestCreatesANewOne)
{
    LoggerScope scope(FakeModule(5));
    ILogger* first = GetLogger(scope.Module());
    EXPECT_EQ(GetLogger(scope.Module()), first);
    SetLogLevel(4, scope.Module());
    ::Setup(LogPath().c_str(), scope.Module());
    ::Shutdown(scope.Module());
    DestroyLogger(scope.Module());
    EXPECT_NE(Lines().back().find("[INFO] - Destroying Logger."), std::string::npos) << Lines().back();
    EXPECT_EQ(LogLevel(scope.Module()), 2) << "a new logger with the defaults";
}

} // namespace

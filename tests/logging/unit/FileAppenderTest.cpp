// The rolling log file, the debug copy and their file names.
#include "FileAppender.h"
#include "KZBLogThis.h"
#include "LogLine.h"
#include "RollingFile.h"
#include "platform/AppendFile.h"
#include "platform/System.h"
#include "support/FakeMessage.h"
#include "support/Modules.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace testing_support;
using namespace kzb::logging;
namespace fs = std::filesystem;

namespace {

// Lines of equal length, so that a size limit can be given in lines.
std::string Numbered(int number)
{
    char line[16];
    std::snprintf(line, sizeof line, "line %04d\n", number);
    return line;
}

const std::uint64_t kLineBytes = Numbered(0).size() + (platform::kCrLfLines ? 1 : 0);

std::vector<std::string> Names(int first, int last)
{
    std::vector<std::string> names;
    for (int i = first; i <= last; ++i) {
        std::string line = Numbered(i);
        line.pop_back();
        names.push_back(line);
    }
    return names;
}

// Writes lines 1..count in blocks of blockSize lines.
void WriteInBlocks(const fs::path& file, int count, int blockSize, std::uint64_t limit)
{
    LineBlock block;
    for (int i = 1; i <= count; ++i) {
        block.Add(Numbered(i));
        if (i % blockSize == 0 || i == count) {
            AppendRolling(file, block, limit);
            block.Clear();
        }
    }
}

TEST(RollingFile, RotatesAfterTheLineThatReachesTheLimitWhateverTheBurst)
{
    struct Case
    {
        int lines;
        std::uint64_t limitInLines;
        std::vector<std::string> current;
        std::vector<std::string> old;
    };
    const Case cases[] = {
        {2, 3, Names(1, 2), {}},
        {3, 3, {}, Names(1, 3)},
        {5, 3, Names(4, 5), Names(1, 3)},
        {7, 3, Names(7, 7), Names(4, 6)},
        {6, 100, Names(1, 6), {}},
    };
    for (const int blockSize : {1, 2, 4, 100}) {
        for (const auto& c : cases) {
            const fs::path folder = ScratchFolder();
            const fs::path file = folder / "KZBDKA.txt";
            WriteInBlocks(file, c.lines, blockSize, c.limitInLines * kLineBytes);
            EXPECT_EQ(ReadLines(file), c.current) << c.lines << " lines in blocks of " << blockSize;
            EXPECT_EQ(ReadLines(folder / "KZBDKA.txt.old"), c.old) << c.lines << " lines in blocks of " << blockSize;
        }
    }
}

TEST(RollingFile, LimitOfZeroRotatesAtEveryLine)
{
    const fs::path folder = ScratchFolder();
    WriteInBlocks(folder / "KZBDKA.txt", 3, 3, 0);
    EXPECT_FALSE(fs::exists(folder / "KZBDKA.txt"));
    EXPECT_EQ(ReadLines(folder / "KZBDKA.txt.old"), Names(3, 3));
}

TEST(RollingFile, FileAlreadyOverTheLimitRotatesAfterTheNextLine)
{
    const fs::path folder = ScratchFolder();
    const fs::path file = folder / "agent";
    WriteText(file, std::string(4 * kLineBytes, 'z'));
    WriteText(folder / "agent.old", "previous generation\n");
    WriteInBlocks(file, 2, 2, 3 * kLineBytes);
    EXPECT_EQ(ReadLines(file), Names(2, 2));
    const auto old = ReadLines(folder / "agent.old");
    ASSERT_EQ(old.size(), 1u) << "the old generation is replaced";
    EXPECT_EQ(old[0].substr(old[0].size() - 9), "line 0001");
}

TEST(RollingFile, LinesAreTextFileLines)
{
    const fs::path folder = ScratchFolder();
    LineBlock block;
    block.Add("first\n");
    block.Add("two\nparts\n");
    AppendRolling(folder / "a.txt", block, 1 << 20);
    EXPECT_EQ(ReadText(folder / "a.txt"),
        platform::kCrLfLines ? "first\r\ntwo\r\nparts\r\n" : "first\ntwo\nparts\n");
}

TEST(RollingFile, UnwritablePathLosesTheLinesQuietly)
{
    const fs::path folder = ScratchFolder();
    LineBlock block;
    block.Add("lost\n");
    AppendRolling(folder, block, 0);                         // a folder, not a file
    AppendRolling(folder / "missing" / "x.txt", block, 100); // no such folder
    AppendRolling(fs::path(), block, 100);
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(RollingFile, CompanionNames)
{
    const struct { const char* log; const char* debug; const char* old; } cases[] = {
        {"KZBDKA.txt", "KZBDKA.debug", "KZBDKA.txt.old"},
        {"logs/agent.log", "logs/agent.debug", "logs/agent.log.old"},
        {"noextension", "noextension.debug", "noextension.old"},
        {"dotted.folder/name", "dotted.folder/name.debug", "dotted.folder/name.old"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DebugFilePath(c.log), fs::path(c.debug)) << c.log;
        EXPECT_EQ(OldFilePath(c.log), fs::path(c.old)) << c.log;
    }
}

class FileAppenderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetFixedRoot();
        folder = ScratchFolder();
        logFile = folder / "logs" / "KZBDKA.txt";
    }
    void TearDown() override { ResetFixedRoot(); }

    fs::path folder;
    fs::path logFile;
};

TEST_F(FileAppenderTest, CreatesTheLogFolderAndWritesTheLogLine)
{
    FileAppender appender(FakeModule(1), platform::NarrowFromPath(logFile));
    EXPECT_TRUE(fs::is_directory(folder / "logs"));
    FakeMessage message;
    appender.Write(message);
    EXPECT_EQ(ReadLines(logFile), std::vector<std::string>{"Dialog(204): (TID 0F2C) 2024-Jun-09 14:03:07.250000 [ERROR] - Hello"});
}

TEST_F(FileAppenderTest, DebugSwitchAddsTheDebugCopyAndTraceGoesOnlyThere)
{
    const struct { const char* debugSwitch; std::int32_t level; bool inLog; bool inDebug; } cases[] = {
        {nullptr, 0, true, false},
        {nullptr, 5, false, false},
        {"file", 0, true, true},
        {"file", 5, false, true},
        {"folder", 3, true, true},
        {"folder", 5, false, true},
    };
    FileAppender appender(FakeModule(1), platform::NarrowFromPath(logFile));
    for (const auto& c : cases) {
        ResetFixedRoot();
        const std::string debugSwitch = c.debugSwitch != nullptr ? c.debugSwitch : "";
        if (debugSwitch == "file")
            WriteText(DebugSwitch(), "");
        else if (debugSwitch == "folder")
            fs::create_directories(DebugSwitch());
        std::error_code error;
        fs::remove(logFile, error);
        fs::remove(DebugFilePath(logFile), error);

        FakeMessage message;
        message.level = c.level;
        appender.Write(message);
        const std::string what = std::string(c.debugSwitch ? c.debugSwitch : "no switch") + ", level " + std::to_string(c.level);
        EXPECT_EQ(Contains(ReadLines(logFile), "Hello"), c.inLog) << what;
        EXPECT_EQ(Contains(ReadLines(DebugFilePath(logFile)), "Hello"), c.inDebug) << what;
    }
}

TEST_F(FileAppenderTest, BurstGoesToTheSameFilesAsSingleWrites)
{
    WriteText(DebugSwitch(), "");
    FileAppender appender(FakeModule(1), platform::NarrowFromPath(logFile));
    MessageBatch batch;
    for (int level : {0, 5, 3}) {
        batch.push_back(std::make_unique<LogMessage>(level, level, 1, nullptr));
        batch.back()->Stamp("Burst.cpp");
        batch.back()->Printf("level %d", level);
    }
    appender.WriteBurst(batch);
    const auto log = ReadLines(logFile);
    const auto debug = ReadLines(DebugFilePath(logFile));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("[ERROR] - level 0"), std::string::npos);
    EXPECT_NE(log[1].find("[MESSAGE] - level 3"), std::string::npos);
    ASSERT_EQ(debug.size(), 3u);
    EXPECT_NE(debug[1].find("[TRACE] - level 5"), std::string::npos);
}

TEST_F(FileAppenderTest, ConfiguredPathAndLimitFromTheModuleFile)
{
    // The test program's own configuration file names another log file and 1 MB.
    const fs::path self = ModuleFile(kzb::logging::ThisModule());
    const fs::path configured = folder / "configured.log";
    const fs::path config = testing_support::FixedConfigFolder() / ReplacedConfig(self).filename();
    WriteText(config, "[LogFile]\nPath=" + platform::NarrowFromPath(configured) + "\nMaxSizeMB=1\n");

    FileAppender appender(kzb::logging::ThisModule(), platform::NarrowFromPath(logFile));
    FakeMessage message;
    message.text = std::string(600 * 1024, 'x');
    appender.Write(message);
    EXPECT_TRUE(fs::exists(configured));
    EXPECT_FALSE(fs::exists(logFile));
    appender.Write(message);
    EXPECT_TRUE(fs::exists(OldFilePath(configured))) << "1 MB reached after the second line";
    EXPECT_FALSE(fs::exists(configured));
}

} // namespace

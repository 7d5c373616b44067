// INI files read and written through the library's profile seam. The same cases run
// against the Windows profile functions (under Wine) and the native implementation,
// so both follow one set of rules.
#include "platform/Profile.h"
#include "platform/System.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;
using namespace kzb::logging::platform;

namespace {

const char* const kSample =
    "; written by hand\r\n"
    "[KZBLogging]\r\n"
    "  LogLevel = info  \r\n"
    "LogQueue=0\r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Single='x'\r\n"
    "NoEquals\r\n"
    "\r\n"
    "[LogFile]\r\n"
    "Path=C:\\logs\\agent.txt\r\n"
    "MaxSizeMB=  25MB\r\n"
    "Hex=0x10\r\n"
    "Negative=-1\r\n"
    "Empty=\r\n"
    "[KZBLogging]\r\n"
    "Second=only the first section of a name is searched\r\n";

class Profile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = ScratchFolder();
        file = NarrowFromPath(folder / "sample.ini");
        WriteText(folder / "sample.ini", kSample);
    }

    std::filesystem::path folder;
    std::string file;
};

TEST_F(Profile, ReadsStringsByTheProfileRules)
{
    const struct { const char* section; const char* key; const char* fallback; std::size_t size; const char* value; } cases[] = {
        {"KZBLogging", "LogLevel", "WARNING", 16, "info"},
        {"kzblogging", "LOGLEVEL", "WARNING", 16, "info"},
        {" KZBLogging ", " LogLevel ", "WARNING", 16, "info"},
        {"KZBLogging", "Missing", "WARNING", 16, "WARNING"},
        {"KZBLogging", "Missing", "WARNING   ", 16, "WARNING"},
        {"KZBLogging", "Missing", "", 16, ""},
        {"KZBLogging", "Quoted", "", 64, "  spaced  "},
        {"KZBLogging", "Single", "", 64, "x"},
        {"KZBLogging", "NoEquals", "fallback", 64, "fallback"},
        {"KZBLogging", "Second", "fallback", 64, "fallback"},
        {"LogFile", "Path", "", 260, "C:\\logs\\agent.txt"},
        {"LogFile", "Path", "", 5, "C:\\l"},
        {"LogFile", "Empty", "fallback", 64, ""},
        {"Nowhere", "Path", "fallback", 64, "fallback"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadIniString(c.section, c.key, c.fallback, c.size, file), c.value) << c.section << "/" << c.key;
}

TEST_F(Profile, ReadsIntegersByTheProfileRules)
{
    const struct { const char* section; const char* key; int fallback; unsigned value; } cases[] = {
        {"KZBLogging", "LogQueue", 1, 0},
        {"LogFile", "MaxSizeMB", 15, 25},
        {"LogFile", "Hex", 0, 16},
        {"LogFile", "Negative", 0, 0xFFFFFFFFu},
        {"LogFile", "Empty", 15, 15},
        {"LogFile", "Missing", 15, 15},
        {"LogFile", "Path", 15, 0},
        {"Nowhere", "Port", 514, 514},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadIniInt(c.section, c.key, c.fallback, file), c.value) << c.section << "/" << c.key;
}

TEST_F(Profile, MissingFileGivesDefaults)
{
    const std::string missing = NarrowFromPath(folder / "missing.ini");
    EXPECT_EQ(ReadIniString("KZBLogging", "LogLevel", "WARNING", 16, missing), "WARNING");
    EXPECT_EQ(ReadIniInt("KZBLogging", "LogQueue", 1, missing), 1u);
}

TEST_F(Profile, WritesCreateUpdateAndAddWithoutDisturbingTheRest)
{
    EXPECT_TRUE(WriteIniString("kzblogging", "LOGLEVEL", "ERROR", file));      // existing key, any case
    EXPECT_TRUE(WriteIniString("KZBLogging", "NewKey", "  new value", file));  // new key in the first section
    EXPECT_TRUE(WriteIniString("Syslog", "Address", "10.1.2.3", file));        // new section

    EXPECT_EQ(ReadIniString("KZBLogging", "LogLevel", "", 64, file), "ERROR");
    EXPECT_EQ(ReadIniString("KZBLogging", "NewKey", "", 64, file), "new value");
    EXPECT_EQ(ReadIniString("Syslog", "Address", "", 64, file), "10.1.2.3");
    EXPECT_EQ(ReadIniInt("KZBLogging", "LogQueue", 1, file), 0u);
    EXPECT_EQ(ReadIniString("KZBLogging", "Quoted", "", 64, file), "  spaced  ");
    EXPECT_EQ(ReadIniString("LogFile", "Path", "", 260, file), "C:\\logs\\agent.txt");
    EXPECT_EQ(ReadIniInt("LogFile", "MaxSizeMB", 15, file), 25u);
}

TEST_F(Profile, WriteCreatesAMissingFile)
{
    const auto path = folder / "new.log.config";
    const std::string created = NarrowFromPath(path);
    EXPECT_TRUE(WriteIniString("KZBLogging", "LogLevel", "WARNING", created));
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadIniString("KZBLogging", "LogLevel", "", 16, created), "WARNING");
    EXPECT_TRUE(WriteIniString("KZBLogging", "LogLevel", "INFO", created));
    EXPECT_EQ(ReadIniString("KZBLogging", "LogLevel", "", 16, created), "INFO");
}

} // namespace

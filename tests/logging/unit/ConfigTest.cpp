// Where the configuration files are found, what is read from them and what is written back.
#include "Config.h"
#include "KZBLogThis.h"
#include "platform/Profile.h"
#include "platform/System.h"
#include "support/Modules.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace testing_support;
using namespace kzb::logging;
namespace fs = std::filesystem;

namespace {

std::string LevelInFile(const fs::path& file)
{
    return platform::ReadIniString("KZBLogging", "LogLevel", "(none)", 64, platform::NarrowFromPath(file));
}

TEST(ConfigSearch, ModuleFileBesideTheModuleThenTheFixedFolder)
{
    const fs::path folder = ScratchFolder();
    const fs::path fixed = folder / "fixed";
    struct Case
    {
        const char* module;
        std::vector<const char*> existing;
        fs::path expected;
    };
    const Case cases[] = {
        {"KZBDKA.exe", {"KZBDKA.exe.log.config.ini", "KZBDKA.log.config"}, folder / "bin" / "KZBDKA.exe.log.config.ini"},
        {"KZBDKA.exe", {"KZBDKA.log.config"}, folder / "bin" / "KZBDKA.log.config"},
        {"KZBDKA.exe", {}, fixed / "KZBDKA.log.config"},
        {"KZBDKA.exe", {"KZBDKA.txt"}, fixed / "KZBDKA.log.config"},
        {"agent", {"agent.log.config.ini"}, folder / "bin" / "agent.log.config.ini"},
        {"agent", {}, fixed / "agent.log.config"},
        {"libpeer.so", {"libpeer.log.config"}, folder / "bin" / "libpeer.log.config"},
    };
    for (const auto& c : cases) {
        fs::remove_all(folder / "bin");
        fs::create_directories(folder / "bin");
        for (const char* name : c.existing)
            WriteText(folder / "bin" / name, "");
        EXPECT_EQ(FindModuleConfigFile(folder / "bin" / c.module, fixed), c.expected) << c.module;
    }
    EXPECT_EQ(FindModuleConfigFile(fs::path(), fixed), fs::path()) << "no module file, no configuration";
}

TEST(ConfigSearch, InstallationFileBesideTheExecutableWins)
{
    const fs::path folder = ScratchFolder();
    const fs::path executable = folder / "bin" / "KZBDKA.exe";
    const fs::path fixed = folder / "fixed";
    fs::create_directories(folder / "bin");
    EXPECT_EQ(FindGlobalConfigFile("syslog", executable, fixed), fixed / "syslog.config.ini");
    WriteText(fixed / "syslog.config.ini", "");
    EXPECT_EQ(FindGlobalConfigFile("syslog", executable, fixed), fixed / "syslog.config.ini");
    WriteText(folder / "bin" / "syslog.config.ini", "");
    EXPECT_EQ(FindGlobalConfigFile("syslog", executable, fixed), folder / "bin" / "syslog.config.ini");
}

// The test program as the module: its real file name decides where its files are.
class ModuleConfiguration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetFixedRoot();
        RemoveConfigBeside(self);
        std::error_code error;
        fs::remove(besideExecutable, error);
    }
    void TearDown() override { SetUp(); }

    const fs::path self = ModuleFile(kzb::logging::ThisModule());
    const fs::path besideExecutable = self.parent_path() / "syslog.config.ini";
    const fs::path fixedFile = testing_support::FixedConfigFolder() / ReplacedConfig(self).filename();
};

TEST_F(ModuleConfiguration, WithoutAnyFileTheFixedFolderGetsOneWithTheDefaults)
{
    ASSERT_FALSE(fs::exists(testing_support::FixedConfigFolder()));
    LoggerConfig config(kzb::logging::ThisModule());
    config.Load();
    EXPECT_EQ(config.Path(), fixedFile);
    EXPECT_EQ(LevelInFile(fixedFile), "WARNING");
    EXPECT_EQ(config.Level(), 2);
    EXPECT_TRUE(config.QueueOn());
}

TEST_F(ModuleConfiguration, LevelIsReadAndWrittenBackAsAValidName)
{
    const struct { const char* stored; std::int32_t level; const char* rewritten; } cases[] = {
        {"info", 4, "INFO"},
        {"TRACE", 2, "WARNING"},
        {"Msg", 3, "MESSAGE"},
        {"ERROR", 0, "ERROR"},
        {"loud", 2, "WARNING"},
        {"INFORMATIONAL-MESSAGES", 2, "WARNING"},
    };
    for (const auto& c : cases) {
        WriteText(fixedFile, std::string("[KZBLogging]\nLogLevel=") + c.stored + "\n");
        LoggerConfig config(kzb::logging::ThisModule());
        config.Load();
        EXPECT_EQ(config.Level(), c.level) << c.stored;
        EXPECT_EQ(LevelInFile(fixedFile), c.rewritten) << c.stored;
    }
}

TEST_F(ModuleConfiguration, QueueSwitch)
{
    const struct { const char* line; bool on; } cases[] = {
        {"LogQueue=0", false}, {"LogQueue=1", true}, {"LogQueue=7", true}, {"", true},
    };
    for (const auto& c : cases) {
        WriteText(fixedFile, std::string("[KZBLogging]\n") + c.line + "\n");
        LoggerConfig config(kzb::logging::ThisModule());
        config.Load();
        EXPECT_EQ(config.QueueOn(), c.on) << c.line;
    }
}

TEST_F(ModuleConfiguration, FilesBesideTheModuleWinInOrder)
{
    WriteText(fixedFile, "[KZBLogging]\nLogLevel=ERROR\n");
    WriteText(ReplacedConfig(self), "[KZBLogging]\nLogLevel=MESSAGE\n");
    {
        LoggerConfig config(kzb::logging::ThisModule());
        config.Load();
        EXPECT_EQ(config.Path(), ReplacedConfig(self));
        EXPECT_EQ(config.Level(), 3);
    }
    WriteText(AppendedConfig(self), "[KZBLogging]\nLogLevel=INFO\n");
    LoggerConfig config(kzb::logging::ThisModule());
    config.Load();
    EXPECT_EQ(config.Path(), AppendedConfig(self));
    EXPECT_EQ(config.Level(), 4);
    EXPECT_EQ(LevelInFile(fixedFile), "ERROR") << "the fixed folder's file is left alone";
}

TEST_F(ModuleConfiguration, LevelChangesAreStoredOnlyWhenTheyChange)
{
    LoggerConfig config(kzb::logging::ThisModule());
    config.Load();
    config.SetLevel(4);
    EXPECT_EQ(config.Level(), 4);
    EXPECT_EQ(LevelInFile(fixedFile), "INFO");

    // An edit by hand survives setting the level the logger already has.
    platform::WriteIniString("KZBLogging", "LogLevel", "ERROR", platform::NarrowFromPath(fixedFile));
    config.SetLevel(4);
    EXPECT_EQ(LevelInFile(fixedFile), "ERROR");

    config.SetLevel(5);
    EXPECT_EQ(LevelInFile(fixedFile), "TRACE");
    config.SetLevel(-1);
    EXPECT_EQ(config.Level(), -1);
    EXPECT_EQ(LevelInFile(fixedFile), "WARNING");
}

TEST_F(ModuleConfiguration, UnknownModuleUsesDefaultsAndWritesNothing)
{
    LoggerConfig config(FakeModule(1));
    config.Load();
    config.SetLevel(4);
    EXPECT_EQ(config.Path(), fs::path());
    EXPECT_EQ(config.Level(), 4);
    EXPECT_TRUE(config.QueueOn());
    EXPECT_FALSE(fs::exists(testing_support::FixedConfigFolder()));
}

TEST_F(ModuleConfiguration, LogFileAndSizeLimit)
{
    const struct { const char* section; std::string defaultPath; std::string path; std::uint64_t limit; } cases[] = {
        {"", "C:\\logs\\KZBDKA.txt", "C:\\logs\\KZBDKA.txt", 15ull << 20},
        {"[LogFile]\nPath=D:\\elsewhere\\agent.log\nMaxSizeMB=1\n", "C:\\logs\\KZBDKA.txt", "D:\\elsewhere\\agent.log", 1048576},
        {"[LogFile]\nMaxSizeMB=0\n", "a.txt", "a.txt", 0},
        // 4096 MB and more stay what they say instead of wrapping to a few bytes.
        {"[LogFile]\nMaxSizeMB=4096\n", "a.txt", "a.txt", 4096ull << 20},
        {"[LogFile]\nMaxSizeMB=5000\n", "a.txt", "a.txt", 5000ull << 20},
        // A negative size is a slip of the keyboard: the default serves.
        {"[LogFile]\nMaxSizeMB=-5\n", "a.txt", "a.txt", 15ull << 20},
    };
    for (const auto& c : cases) {
        WriteText(fixedFile, std::string("[KZBLogging]\nLogLevel=WARNING\n") + c.section);
        FileConfig config(kzb::logging::ThisModule());
        config.Load(c.defaultPath);
        EXPECT_EQ(platform::NarrowFromPath(config.LogFilePath()), c.path) << c.section;
        EXPECT_EQ(config.SizeLimit(), c.limit) << c.section;
    }
}

TEST_F(ModuleConfiguration, SyslogSettings)
{
    const fs::path fixedSyslog = testing_support::FixedConfigFolder() / "syslog.config.ini";
    const struct { const char* fixed; const char* beside; const char* address; std::uint16_t port; } cases[] = {
        {nullptr, nullptr, "", 514},
        {"[Syslog]\nPort=1514\n", nullptr, "", 1514},
        {"[Syslog]\nAddress=logs.example\nPort=1514\n", nullptr, "logs.example", 1514},
        {"[Syslog]\nAddress=logs.example\n", "[Syslog]\nAddress=10.0.0.9\n", "10.0.0.9", 514},
        // Ports that do not fit fall back to the standard one instead of wrapping.
        {"[Syslog]\nAddress=h\nPort=70000\n", nullptr, "h", 514},
        {"[Syslog]\nAddress=h\nPort=0\n", nullptr, "h", 514},
        {"[Syslog]\nAddress=h\nPort=65535\n", nullptr, "h", 65535},
    };
    for (const auto& c : cases) {
        std::error_code error;
        fs::remove(fixedSyslog, error);
        fs::remove(besideExecutable, error);
        if (c.fixed != nullptr)
            WriteText(fixedSyslog, c.fixed);
        if (c.beside != nullptr)
            WriteText(besideExecutable, c.beside);
        SyslogConfig config;
        EXPECT_EQ(config.Address(), c.address) << (c.fixed ? c.fixed : "no file");
        EXPECT_EQ(config.Port(), c.port) << (c.fixed ? c.fixed : "no file");
    }
}

} // namespace

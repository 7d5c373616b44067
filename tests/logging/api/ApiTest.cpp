// The library as its users see it: the exports by name, and two modules of one process
// logging through it into two files, each with its own configuration.
#include "KZBLogThis.h"
#include "peer/Peer.h"
#include "support/Library.h"
#include "support/Modules.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

TEST(Exports, EveryFunctionAndTheConstantUnderItsPlainName)
{
    for (const char* name : {"GetLogger", "Setup", "Shutdown", "DestroyLogger", "CreateLogMessage", "CopyLogMessage",
             "DeleteLogMessage", "LogLevel", "SetLogLevel", "LogErrorCode", "LogLevelAsString", "LogLevelFromString",
             "DEFAULT_LOG_LEVEL"})
        EXPECT_NE(LibraryExport(name), nullptr) << name;

    const auto* defaultLevel = static_cast<const std::int32_t*>(LibraryExport("DEFAULT_LOG_LEVEL"));
    ASSERT_NE(defaultLevel, nullptr);
    EXPECT_EQ(*defaultLevel, 2);
    EXPECT_EQ(DEFAULT_LOG_LEVEL, 2);

    using Names = const char* (*)(std::int32_t);
    const auto levelName = reinterpret_cast<Names>(LibraryExport("LogLevelAsString"));
    ASSERT_NE(levelName, nullptr);
    EXPECT_STREQ(levelName(4), "INFO");
    EXPECT_EQ(LibraryExport("kzb_no_such_export"), nullptr);
}

class TwoModules : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetFixedRoot();
        RemoveConfigBeside(program);
        RemoveConfigBeside(peer);
        // The peer has its own file beside it; the program has none anywhere.
        WriteText(AppendedConfig(peer), "[KZBLogging]\nLogLevel=INFO\n");
        folder = ScratchFolder();
    }
    void TearDown() override
    {
        ::Shutdown(kzb::logging::ThisModule());
        DestroyLogger(kzb::logging::ThisModule());
        PeerShutdown();
        RemoveConfigBeside(program);
        RemoveConfigBeside(peer);
    }

    const fs::path program = ModuleFile(kzb::logging::ThisModule());
    const fs::path peer = ModuleFile(PeerModule());
    fs::path folder;
};

TEST_F(TwoModules, EachModuleHasItsOwnHandleFileAndConfiguration)
{
    ASSERT_NE(kzb::logging::ThisModule(), nullptr);
    ASSERT_NE(kzb::logging::ThisModule(), PeerModule());
#if defined(_WIN32)
    EXPECT_EQ(program.filename(), "logging_api_tests.exe");
    EXPECT_EQ(peer.filename(), "logging_peer.dll");
#else
    EXPECT_EQ(program.filename(), "logging_api_tests");
    EXPECT_EQ(peer.filename(), "liblogging_peer.so");
#endif
    EXPECT_EQ(LogLevel(kzb::logging::ThisModule()), 2);
    EXPECT_EQ(LogLevel(PeerModule()), 4);
    // The program found no file, so its logger created one in the fixed folder.
    const fs::path created = testing_support::FixedConfigFolder() / ReplacedConfig(program).filename();
    EXPECT_NE(ReadText(created).find("LogLevel=WARNING"), std::string::npos) << created.string();
}

TEST_F(TwoModules, EachModuleLogsIntoItsOwnFile)
{
    const fs::path programLog = folder / "program.txt";
    const fs::path peerLog = folder / "peer.txt";
    ::Setup(programLog.string().c_str(), kzb::logging::ThisModule());
    PeerSetup(peerLog.string().c_str());

    const int line = __LINE__ + 1;
    KZB_LOG(kzb::logging::LEVEL_ERROR, "program says %d", 1);
    KZB_LOG(kzb::logging::LEVEL_INFO, "program info is below its level");
    PeerLog(kzb::logging::LEVEL_ERROR, "hello");
    PeerLog(kzb::logging::LEVEL_INFO, "info passes its level");
    ::Shutdown(kzb::logging::ThisModule());
    PeerShutdown();

    const auto programLines = ReadLines(programLog);
    const auto peerLines = ReadLines(peerLog);
    ASSERT_FALSE(programLines.empty());
    ASSERT_FALSE(peerLines.empty());
    EXPECT_NE(programLines[0].find("Using default log level WARNING"), std::string::npos) << programLines[0];
    EXPECT_NE(peerLines[0].find("Apply log level INFO from " + AppendedConfig(peer).string()), std::string::npos)
        << peerLines[0];

    char origin[64];
    std::snprintf(origin, sizeof origin, "ApiTest.cpp(%d): (TID %04X) ", line, kzb::logging::ThisThreadId());
    EXPECT_TRUE(Contains(programLines, origin)) << origin;
    EXPECT_TRUE(Contains(programLines, "[ERROR] - program says 1"));
    EXPECT_FALSE(Contains(programLines, "program info"));
    EXPECT_FALSE(Contains(programLines, "peer says"));

    EXPECT_TRUE(Contains(peerLines, "Peer.cpp("));
    EXPECT_TRUE(Contains(peerLines, "[ERROR] - peer says hello"));
    EXPECT_TRUE(Contains(peerLines, "[INFO] - peer says info passes its level"));
    EXPECT_FALSE(Contains(peerLines, "program says"));
}

} // namespace

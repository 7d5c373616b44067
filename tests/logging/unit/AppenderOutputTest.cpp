// The debugger-output and syslog appenders, with the network stood in by a local socket.
#include "KZBLogThis.h"
#include "LogLine.h"
#include "Logger.h"
#include "OutputDebugStringAppender.h"
#include "SyslogAppender.h"
#include "platform/System.h"
#include "support/FakeMessage.h"
#include "support/Modules.h"
#include "support/TestFiles.h"
#include "support/UdpReceiver.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <sys/ptrace.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

using namespace testing_support;
using namespace kzb::logging;
namespace fs = std::filesystem;

namespace {

TEST(DebugOutput, WritesTheLogLineOrBadConversion)
{
    std::vector<std::string> output;
    OutputDebugStringAppender appender([&](const std::string& line) { output.push_back(line); });
    const struct { std::string text; bool valid; } cases[] = {
        {"plain", true},
        {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\x9E", true},
        {"latin-1 \xE9t\xE9", false},
        {"overlong \xC0\xAF", false},
        {"surrogate \xED\xA0\x80", false},
        {"cut short \xE2\x82", false},
        {"beyond U+10FFFF \xF4\x90\x80\x80", false},
    };
    for (const auto& c : cases) {
        FakeMessage message;
        message.level = 5; // every level is written
        message.text = c.text;
        output.clear();
        appender.Write(message);
        ASSERT_EQ(output.size(), 1u);
        EXPECT_EQ(output[0], c.valid ? MakeLogLine(message) : "Bad conversion") << c.text;
    }
}

TEST(DebugOutput, NoDebuggerWhileTheTestsRun)
{
    EXPECT_FALSE(platform::DebuggerAttached());
}

#if !defined(_WIN32)
TEST(DebugOutput, TracedProcessSeesItsDebugger)
{
    // A child that asks to be traced by this process reports the tracer it then has.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(2);
        _exit(platform::DebuggerAttached() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not seen, 2: tracing refused";
}
#endif

class Syslog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetFixedRoot();
        WriteText(testing_support::FixedConfigFolder() / "syslog.config.ini",
            "[Syslog]\nAddress=127.0.0.1\nPort=" + std::to_string(receiver.Port()) + "\n");
    }
    void TearDown() override { ResetFixedRoot(); }

    UdpReceiver receiver;
};

TEST_F(Syslog, OneDatagramPerMessageNamedAfterHostAndModule)
{
    SyslogConfig config;
    SyslogAppender appender(kzb::logging::ThisModule(), config);
    const std::string program = ModuleFile(kzb::logging::ThisModule()).stem().string();
    EXPECT_EQ(appender.ApplicationName(), SyslogField(program, 32));
    EXPECT_FALSE(appender.HostName().empty());
    EXPECT_EQ(appender.HostName().find(' '), std::string::npos);
    EXPECT_NE(appender.HostName(), "-") << "the host name is read once the sockets layer is up";

    for (std::int32_t level : {0, 3, 5}) {
        FakeMessage message;
        message.level = level;
        message.text = "level " + std::to_string(level);
        appender.Write(message);
        const auto datagram = receiver.Receive();
        ASSERT_TRUE(datagram) << level;
        EXPECT_EQ(*datagram, MakeSyslogDatagram(message, appender.HostName(), appender.ApplicationName()));
    }
}

TEST_F(Syslog, UnreachableServersLoseTheDatagramQuietly)
{
    const struct { const char* address; const char* port; } cases[] = {
        {"no-such-host.invalid", "514"},
        {"127.0.0.1", "1"},
        {"", "514"},
    };
    for (const auto& c : cases) {
        WriteText(testing_support::FixedConfigFolder() / "syslog.config.ini",
            std::string("[Syslog]\nAddress=") + c.address + "\nPort=" + c.port + "\n");
        SyslogConfig config;
        SyslogAppender appender(FakeModule(1), config);
        EXPECT_EQ(appender.ApplicationName(), "-") << "no module file, no name";
        FakeMessage message;
        appender.Write(message);
        appender.Write(message);
    }
    EXPECT_FALSE(receiver.Receive(std::chrono::milliseconds(100)));
}

TEST_F(Syslog, SetupAddsTheSyslogAppenderWhenAnAddressIsConfigured)
{
    SharedSyslogConfig shared;
    MessagePool pool;
    const fs::path logFile = ScratchFolder() / "agent.txt";
    Logger logger(FakeModule(1), shared, pool);
    logger.Setup(platform::NarrowFromPath(logFile).c_str());
    const auto startUp = receiver.Receive();
    ASSERT_TRUE(startUp);
    EXPECT_NE(startUp->find("<133>"), std::string::npos);
    EXPECT_NE(startUp->find("Using default log level WARNING"), std::string::npos) << *startUp;
    logger.Shutdown();
    EXPECT_TRUE(Contains(ReadLines(logFile), "Using default log level WARNING"));
}

TEST_F(Syslog, NoAddressNoSyslogAppender)
{
    WriteText(testing_support::FixedConfigFolder() / "syslog.config.ini", "[Syslog]\nPort=" + std::to_string(receiver.Port()) + "\n");
    SharedSyslogConfig shared;
    MessagePool pool;
    Logger logger(FakeModule(1), shared, pool);
    logger.Setup(platform::NarrowFromPath(ScratchFolder() / "agent.txt").c_str());
    logger.Shutdown();
    EXPECT_FALSE(receiver.Receive(std::chrono::milliseconds(200)));
}

} // namespace

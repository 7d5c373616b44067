// End to end: a real rsyslogd receives what the syslog appender sends. The daemon runs
// in the foreground with its own configuration, pid file and output in a scratch folder;
// no system service is touched.
#include "KZBLogThis.h"
#include "support/TestFiles.h"
#include "support/UdpReceiver.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const fs::path kRsyslogd = "/usr/sbin/rsyslogd";

// The fields rsyslog parsed out of each datagram, one line per datagram.
struct Received
{
    std::string priority, time, host, tag, message, raw;
};

std::vector<Received> ReadReceived(const fs::path& file)
{
    std::vector<Received> all;
    for (const auto& line : ReadLines(file)) {
        std::vector<std::string> fields;
        std::size_t begin = 0;
        for (int i = 0; i < 5; ++i) {
            const std::size_t bar = line.find('|', begin);
            if (bar == std::string::npos)
                break;
            fields.push_back(line.substr(begin, bar - begin));
            begin = bar + 1;
        }
        if (fields.size() == 5)
            all.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], line.substr(begin)});
    }
    return all;
}

class Rsyslogd
{
public:
    Rsyslogd(const fs::path& folder, std::uint16_t port) : m_output(folder / "received.log")
    {
        const fs::path config = folder / "rsyslog.conf";
        WriteText(config,
            "global(workDirectory=\"" + folder.string() + "\")\n"
            "module(load=\"imudp\")\n"
            // "localhost" may resolve to either loopback address first.
            "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" + std::to_string(port) + "\")\n"
            "input(type=\"imudp\" address=\"::1\" port=\"" + std::to_string(port) + "\")\n"
            "template(name=\"fields\" type=\"string\" string=\"%pri%|%timereported:::date-rfc3164%|%hostname%|"
            "%syslogtag%|%msg%|%rawmsg%\\n\")\n"
            "*.* action(type=\"omfile\" file=\"" + m_output.string() + "\" template=\"fields\")\n");
        const std::string pidFile = (folder / "rsyslogd.pid").string();
        m_pid = fork();
        if (m_pid == 0) {
            const std::string log = (folder / "rsyslogd.out").string();
            freopen(log.c_str(), "w", stdout);
            freopen(log.c_str(), "a", stderr);
            execl(kRsyslogd.c_str(), "rsyslogd", "-n", "-f", config.c_str(), "-i", pidFile.c_str(), nullptr);
            _exit(127);
        }
    }
    ~Rsyslogd()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    Rsyslogd(const Rsyslogd&) = delete;
    Rsyslogd& operator=(const Rsyslogd&) = delete;

    bool Running() const { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }
    std::vector<Received> Output() const { return ReadReceived(m_output); }

private:
    fs::path m_output;
    pid_t m_pid = -1;
};

std::uint16_t FreeUdpPort()
{
    UdpReceiver probe;
    return probe.Port();
}

std::optional<Received> Find(const Rsyslogd& daemon, const std::string& text)
{
    for (const auto& received : daemon.Output()) {
        if (received.raw.find(text) != std::string::npos)
            return received;
    }
    return std::nullopt;
}

TEST(Rsyslog, ReceivesAndParsesWhatTheSyslogAppenderSends)
{
    ASSERT_TRUE(fs::exists(kRsyslogd)) << "rsyslog is not installed; scripts/setup installs it";

    ResetFixedRoot();
    const fs::path folder = ScratchFolder();
    const std::uint16_t port = FreeUdpPort();
    Rsyslogd daemon(folder, port);

    // Ready once a datagram of our own gets through.
    const bool ready = WaitFor([&] {
        SendUdp(port, "<134>Jan  1 00:00:00 probe probe: ready");
        return Find(daemon, "probe: ready").has_value();
    }, std::chrono::seconds(10));
    ASSERT_TRUE(ready) << "rsyslogd did not start: " << ReadText(folder / "rsyslogd.out");

    // The process's syslog settings are read at its first Setup.
    WriteText(FixedConfigFolder() / "syslog.config.ini", "[Syslog]\nAddress=localhost\nPort=" + std::to_string(port) + "\n");
    const auto module = kzb::logging::ThisModule();
    ::Setup((folder / "agent.txt").string().c_str(), module);

    const int line = __LINE__ + 1;
    KZB_LOG(kzb::logging::LEVEL_ERROR, "end to end check %d", 42);
    const std::string longText(2000, 'y');
    KZB_LOG(kzb::logging::LEVEL_WARNING, "long %s", longText.c_str());

    std::optional<Received> check;
    std::optional<Received> cut;
    EXPECT_TRUE(WaitFor([&] {
        check = Find(daemon, "end to end check 42");
        cut = Find(daemon, "long yyy");
        return check && cut;
    }, std::chrono::seconds(5)));
    ::Shutdown(module);
    DestroyLogger(module);
    ASSERT_TRUE(check);
    ASSERT_TRUE(cut);
    EXPECT_TRUE(daemon.Running());

    char host[256] = {};
    gethostname(host, sizeof host);
    char origin[80];
    std::snprintf(origin, sizeof origin, "RsyslogTest.cpp(%d): (TID %04X) end to end check 42", line,
        kzb::logging::ThisThreadId());

    EXPECT_EQ(check->priority, "131");
    EXPECT_TRUE(std::regex_match(check->time, std::regex(R"([A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d)"))) << check->time;
    EXPECT_EQ(check->host, host);
    EXPECT_EQ(check->tag, "logging_syslog_e2e_tests:");
    EXPECT_EQ(check->message, std::string(" ") + origin);
    EXPECT_EQ(check->raw, "<131>" + check->time + " " + host + " logging_syslog_e2e_tests: " + origin);

    EXPECT_EQ(cut->priority, "132");
    EXPECT_EQ(cut->raw.size(), 1024u);
    EXPECT_EQ(cut->raw.substr(1021), "...");
}

} // namespace

// The agent's page socket as a host meets it: the demand for bodies on connecting, pages
// kept while the host stays, bad messages dropped with a log line, one agent per session,
// and nobody but this user let in.
#include "LogCapture.h"

#include "inspection/PageSource.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <filesystem>
#include <stdexcept>

using namespace kzb::inspection;
using namespace std::chrono_literals;

namespace {

// A host's end of the socket.
class HostEnd
{
public:
    explicit HostEnd(const std::string& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        timeval timeout{10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect");
    }
    ~HostEnd() { Close(); }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    void SendRaw(const std::string& bytes) { ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }
    void Send(const std::string& json) { SendRaw(FramePageMessage(json)); }
    // The next message from the agent; nothing within the time-out or at the end.
    std::optional<PageMessage> Receive()
    {
        for (;;) {
            if (auto frame = m_reader.Next()) {
                std::string error;
                return ParsePageMessage(frame->json, error);
            }
            char buffer[4096];
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return std::nullopt;
            m_reader.Append(buffer, static_cast<std::size_t>(got));
        }
    }

private:
    int m_fd = -1;
    PageFrameReader m_reader;
};

class PageSourceServerTest : public ::testing::Test
{
protected:
    PageSourceServerTest()
    {
        m_runtime = std::filesystem::temp_directory_path() /
                    ("kzb-runtime-" + std::to_string(::getpid()) + "-" + std::to_string(s_counter++));
        std::filesystem::create_directories(m_runtime);
        std::filesystem::permissions(m_runtime, std::filesystem::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        std::string error;
        path = PageChannelName(error);
    }
    ~PageSourceServerTest() override
    {
        server.reset();
        ::unsetenv("XDG_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(m_runtime, ignored);
    }

    bool WaitForPages(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::unique_lock lock(m_mutex);
        return m_changed.wait_until(lock, deadline, [&] { return pages->Pages().size() == count; });
    }

    LogCapture log;
    std::shared_ptr<PageSource> pages = std::make_shared<PageSource>();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<DesktopWatcher> m_watch = pages->Watch([this] {
        std::lock_guard lock(m_mutex);
        m_changed.notify_all();
    });
    std::string path;
    std::unique_ptr<PageSourceServer> server;
    std::filesystem::path m_runtime;
    static inline int s_counter = 0;
};

TEST_F(PageSourceServerTest, AHostIsAskedForEveryWindowAndItsPagesLastWhileItStays)
{
    server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    HostEnd host(path);
    const auto demand = host.Receive();
    ASSERT_TRUE(demand);
    EXPECT_EQ(demand->kind, PageMessage::Kind::Bodies);
    EXPECT_FALSE(demand->bodiesWanted);

    host.Send(R"({"type":"hello","origin":"chrome-extension://abc/"})");
    host.Send(R"({"type":"snapshot","windows":[{"window":1,"title":"Secret title"},{"window":2,"title":"b"}]})");
    ASSERT_TRUE(WaitForPages(2));
    EXPECT_TRUE(log.WaitFor("Browser extension connected: chrome-extension://abc/"));

    // A body read asks every host for bodies.
    pages->NoteBodyRead(PageSource::Clock::now());
    const auto bodies = host.Receive();
    ASSERT_TRUE(bodies);
    EXPECT_TRUE(bodies->bodiesWanted);

    host.Close();
    ASSERT_TRUE(WaitForPages(0));
    EXPECT_TRUE(log.WaitFor("Browser extension gone"));
    for (const auto& line : log.Lines())
        EXPECT_EQ(line.text.find("Secret"), std::string::npos) << "no page text in the log: " << line.text;
}

TEST_F(PageSourceServerTest, BadMessagesAreDroppedWithALineAndTheHostStays)
{
    server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    HostEnd host(path);
    ASSERT_TRUE(host.Receive());
    host.Send(R"({"type":"page","window":1,"title":"Secret)");
    host.Send(R"({"type":"page","window":1,"cookie":"Secret"})");
    host.Send(R"({"type":"bodies","wanted":true})");
    std::string huge = R"({"type":"page","window":1,"title":")" + std::string(MaxPageMessageSize, 'S') + R"("})";
    host.Send(huge);
    host.Send(R"({"type":"page","window":1,"title":"fine"})");
    ASSERT_TRUE(WaitForPages(1));
    EXPECT_EQ(pages->Pages()[0].second->title, "fine");
    EXPECT_EQ(log.Count("dropped: not valid JSON"), 1u);
    EXPECT_EQ(log.Count("dropped: unknown field 'cookie'"), 1u);
    EXPECT_EQ(log.Count("dropped: not one a browser sends"), 1u);
    EXPECT_EQ(log.Count("bytes from host 1 dropped"), 1u);
    for (const auto& line : log.Lines())
        EXPECT_EQ(line.text.find("Secret"), std::string::npos) << line.text;
}

TEST_F(PageSourceServerTest, OneAgentPerSessionServesAndAStaleSocketIsTakenOver)
{
    server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(ServeBrowserPages(std::make_shared<PageSource>()), nullptr);
    EXPECT_TRUE(log.WaitFor("another agent of this session reads them"));
    {
        HostEnd host(path);
        EXPECT_TRUE(host.Receive()) << "the first agent still serves";
    }
    server.reset();
    EXPECT_FALSE(std::filesystem::exists(path)) << "the socket goes with its agent";

    // One left behind by an agent that died.
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    HostEnd host(path);
    EXPECT_TRUE(host.Receive());
}

TEST_F(PageSourceServerTest, AnotherUserCannotReachTheAgent)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    // The runtime folder must be enterable for the other user to get as far as the socket
    // at all; the folder of the agent itself stays private.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        try {
            HostEnd host(path);
            host.Send(R"({"type":"page","window":1,"title":"forged"})");
            ::_exit(host.Receive() ? 1 : 0);
        } catch (...) {
            ::_exit(0); // refused at the door
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another user got an answer from the agent";
    EXPECT_TRUE(pages->Pages().empty());
}

} // namespace

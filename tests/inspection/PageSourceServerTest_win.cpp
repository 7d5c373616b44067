// The agent's page pipe as a host meets it under Wine: the demand for bodies on connecting,
// pages kept while the host stays, bad messages dropped with a line, and the pipe's name
// refused to anyone who tries to create it as its first instance while the agent has it.
#include "LogCapture.h"

#include "inspection/PageSource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>

using namespace kzb::inspection;
using namespace std::chrono_literals;

namespace {

std::string PipeName()
{
    std::string error;
    return PageChannelName(error);
}

// A host's end of the pipe (synchronous: the test does one thing at a time).
class HostEnd
{
public:
    HostEnd()
    {
        // Every instance may be busy for a moment (the agent makes the next one as it accepts).
        for (int attempt = 0; attempt < 10; ++attempt) {
            m_pipe = ::CreateFileA(PipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
            if (m_pipe != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_PIPE_BUSY)
                break;
            ::WaitNamedPipeA(PipeName().c_str(), 1000);
        }
        if (m_pipe == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot open the pipe (" + std::to_string(::GetLastError()) + ")");
    }
    ~HostEnd() { Close(); }
    void Close()
    {
        if (m_pipe != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_pipe);
        m_pipe = INVALID_HANDLE_VALUE;
    }
    void Send(const std::string& json)
    {
        const std::string frame = FramePageMessage(json);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(m_pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr));
        ASSERT_EQ(written, frame.size());
    }
    std::optional<PageMessage> Receive()
    {
        for (;;) {
            if (auto frame = m_reader.Next()) {
                std::string error;
                return ParsePageMessage(frame->json, error);
            }
            char buffer[4096];
            DWORD got = 0;
            if (!::ReadFile(m_pipe, buffer, sizeof buffer, &got, nullptr) || got == 0)
                return std::nullopt;
            m_reader.Append(buffer, got);
        }
    }

private:
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    PageFrameReader m_reader;
};

class PageSourceServerTest : public ::testing::Test
{
protected:
    bool WaitForPages(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return pages->Pages().size() == count; });
    }

    LogCapture log;
    std::shared_ptr<PageSource> pages = std::make_shared<PageSource>();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<DesktopWatcher> m_watch = pages->Watch([this] {
        std::lock_guard lock(m_mutex);
        m_changed.notify_all();
    });
};

TEST_F(PageSourceServerTest, AHostIsAskedForEveryWindowAndItsPagesLastWhileItStays)
{
    auto server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    EXPECT_NE(PipeName().find("\\\\.\\pipe\\kzbdka-pages-"), std::string::npos);
    HostEnd host;
    const auto demand = host.Receive();
    ASSERT_TRUE(demand);
    EXPECT_EQ(demand->kind, PageMessage::Kind::Bodies);

    host.Send(R"({"type":"hello","origin":"chrome-extension://abc/"})");
    host.Send(R"({"type":"page","window":1,"title":"Secret)");
    host.Send(R"({"type":"snapshot","windows":[{"window":1,"title":"Secret title"},{"window":2}]})");
    ASSERT_TRUE(WaitForPages(2));
    EXPECT_TRUE(log.WaitFor("Browser extension connected: chrome-extension://abc/"));
    EXPECT_TRUE(log.WaitFor("dropped: not valid JSON"));

    pages->NoteBodyRead(PageSource::Clock::now());
    const auto bodies = host.Receive();
    ASSERT_TRUE(bodies);
    EXPECT_TRUE(bodies->bodiesWanted);

    host.Close();
    ASSERT_TRUE(WaitForPages(0));
    EXPECT_TRUE(log.WaitFor("Browser extension gone"));
    for (const auto& line : log.Lines())
        EXPECT_EQ(line.text.find("Secret"), std::string::npos) << line.text;
}

TEST_F(PageSourceServerTest, ThePipeIsRefusedToASecondInstanceThatTriesToCreateItFirst)
{
    auto server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(ServeBrowserPages(std::make_shared<PageSource>()), nullptr) << "a second agent of the session";
    EXPECT_TRUE(log.WaitFor("exists already"));
    {
        HostEnd host;
        EXPECT_TRUE(host.Receive()) << "the first agent still serves";
    }

    // A program that took the name first keeps the agent out: no host talks to an agent
    // that someone else's pipe stands in for.
    server.reset();
    const HANDLE first = ::CreateNamedPipeA(PipeName().c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                            PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0,
                                            nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << "the name is free once the agent has gone";
    EXPECT_EQ(ServeBrowserPages(pages), nullptr);
    EXPECT_TRUE(log.WaitFor("exists already", 2));
    ::CloseHandle(first);
    server = ServeBrowserPages(pages);
    ASSERT_NE(server, nullptr);
    HostEnd host;
    EXPECT_TRUE(host.Receive());
}

} // namespace

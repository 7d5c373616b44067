// kzbdka-pagehost.exe: Chrome or Edge starts it for the extension and talks to it over its
// standard streams (binary); it passes checked messages between the browser and the agent of
// its own session, on the agent's named pipe. It waits for an agent that is not running yet
// and finds it again when it restarts. It ends when the browser closes its input.
#include "PageRelay.h"

#include "inspection/PageSource.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

using kzb::inspection::PageFrameReader;
using kzb::pagehost::From;
using kzb::pagehost::Note;

namespace {

// A pipe has no change notice to wait on: while there is no agent, look again this often.
constexpr DWORD RetryMs = 1000;

// One overlapped operation on the pipe, waited for; false when it failed.
bool Wait(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD& done, HANDLE stop)
{
    if (!started && ::GetLastError() != ERROR_IO_PENDING)
        return false;
    const HANDLE events[] = {overlapped.hEvent, stop};
    if (::WaitForMultipleObjects(stop ? 2 : 1, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::CancelIoEx(pipe, &overlapped);
        ::GetOverlappedResult(pipe, &overlapped, &done, TRUE);
        return false;
    }
    return ::GetOverlappedResult(pipe, &overlapped, &done, FALSE) != FALSE;
}

class AgentLink
{
public:
    AgentLink(std::string origin, std::string name)
        : m_origin(std::move(origin)), m_name(std::move(name)), m_stop(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          m_thread([this] { Run(); })
    {
    }

    ~AgentLink()
    {
        ::SetEvent(m_stop);
        m_thread.join();
        ::CloseHandle(m_stop);
    }

    // A frame for the agent; dropped while there is none (a new agent asks for every window).
    void Send(const std::string& frame)
    {
        std::lock_guard lock(m_writeMutex);
        if (m_pipe == INVALID_HANDLE_VALUE)
            return;
        OVERLAPPED overlapped{};
        overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        const BOOL started = ::WriteFile(m_pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, &overlapped);
        if (!Wait(m_pipe, overlapped, started, written, m_stop))
            Note("a message for the agent not sent");
        ::CloseHandle(overlapped.hEvent);
    }

private:
    HANDLE Connect()
    {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        for (int attempt = 0; attempt < 3; ++attempt) {
            pipe = ::CreateFileA(m_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
            if (pipe != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_PIPE_BUSY)
                break;
            // The agent is making its next instance.
            ::WaitNamedPipeA(m_name.c_str(), RetryMs);
        }
        if (pipe == INVALID_HANDLE_VALUE)
            return pipe;
        // The pipe's server must be of this very session, not a program of another that took
        // the name.
        ULONG server = 0, own = 0;
        if (::GetNamedPipeServerSessionId(pipe, &server) && ::ProcessIdToSessionId(::GetCurrentProcessId(), &own) &&
            server != own) {
            Note("the agent's pipe is served from another session; not used");
            ::CloseHandle(pipe);
            return INVALID_HANDLE_VALUE;
        }
        return pipe;
    }

    void Run()
    {
        bool waitingNoted = false;
        for (;;) {
            const HANDLE pipe = Connect();
            if (pipe == INVALID_HANDLE_VALUE) {
                if (!waitingNoted)
                    Note("no agent yet; waiting for it");
                waitingNoted = true;
                if (::WaitForSingleObject(m_stop, RetryMs) == WAIT_OBJECT_0)
                    return;
                continue;
            }
            waitingNoted = false;
            {
                std::lock_guard lock(m_writeMutex);
                m_pipe = pipe;
            }
            Note("connected to the agent");
            kzb::inspection::PageMessage hello;
            hello.kind = kzb::inspection::PageMessage::Kind::Hello;
            hello.origin = m_origin;
            Send(kzb::inspection::FramePageMessage(kzb::inspection::FormatPageMessage(hello)));
            const bool stopped = Read(pipe);
            {
                std::lock_guard lock(m_writeMutex);
                m_pipe = INVALID_HANDLE_VALUE;
            }
            ::CloseHandle(pipe);
            if (stopped)
                return;
            Note("the agent is gone; waiting for it");
        }
    }

    // Until the agent goes (false) or the host stops (true).
    bool Read(HANDLE pipe)
    {
        PageFrameReader reader(kzb::inspection::MaxToBrowserMessageSize);
        OVERLAPPED overlapped{};
        overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        char buffer[16 * 1024];
        bool stopped = false;
        for (;;) {
            ::ResetEvent(overlapped.hEvent);
            DWORD got = 0;
            const BOOL started = ::ReadFile(pipe, buffer, sizeof buffer, &got, &overlapped);
            if (!Wait(pipe, overlapped, started, got, m_stop) || got == 0) {
                stopped = ::WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0;
                break;
            }
            reader.Append(buffer, got);
            while (auto frame = reader.Next()) {
                const std::string relayed = kzb::pagehost::Relay(From::Agent, *frame);
                if (!relayed.empty()) {
                    std::fwrite(relayed.data(), 1, relayed.size(), stdout);
                    std::fflush(stdout);
                }
            }
        }
        ::CloseHandle(overlapped.hEvent);
        return stopped;
    }

    const std::string m_origin;
    const std::string m_name;
    const HANDLE m_stop;
    std::mutex m_writeMutex;
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    std::thread m_thread;
};

} // namespace

int main(int argc, char** argv)
{
    // The browser's messages are binary: no line-end translation either way.
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);

    // Chrome passes the extension's origin first (and --parent-window=N after it).
    const std::string origin = argc > 1 ? argv[1] : "";
    std::string error;
    const std::string name = kzb::inspection::PageChannelName(error);
    if (name.empty()) {
        Note("no agent can be reached: " + error);
        return 1;
    }

    AgentLink agent(origin, name);
    PageFrameReader fromBrowser(kzb::inspection::MaxPageMessageSize);
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    char buffer[64 * 1024];
    for (;;) {
        // What has come so far, not a full buffer.
        DWORD got = 0;
        if (!::ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0)
            break; // the browser let go
        fromBrowser.Append(buffer, got);
        while (auto frame = fromBrowser.Next()) {
            const std::string relayed = kzb::pagehost::Relay(From::Browser, *frame);
            if (!relayed.empty())
                agent.Send(relayed);
        }
    }
    return 0;
}

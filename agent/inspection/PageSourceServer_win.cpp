// The page hosts of this session reach the agent on a named pipe whose name carries the
// session id. The agent creates it as its first instance (so a program that took the name
// before cannot pose as the agent, and a second agent of the session finds it taken), with
// an access list that lets in the current user alone; remote clients are refused. One
// thread serves every connection with overlapped I/O and sleeps until something happens.
#include "PageSource.h"

#include "Log.h"

#include <windows.h>
#include <sddl.h>

#include <atomic>
#include <list>
#include <memory>
#include <thread>
#include <vector>

namespace kzb::inspection {

namespace {

constexpr DWORD BufferSize = 64 * 1024;
// WaitForMultipleObjects takes 64 handles: the stop, the demand, the listening instance, the rest.
constexpr std::size_t MaxConnections = MAXIMUM_WAIT_OBJECTS - 3;

// "D:P(A;;GA;;;<user's SID>)": the current user alone, nobody else, nothing inherited.
bool CurrentUserOnly(SECURITY_ATTRIBUTES& attributes, std::string& error)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        error = "the process token cannot be read (" + std::to_string(::GetLastError()) + ")";
        return false;
    }
    std::vector<BYTE> buffer(256);
    DWORD needed = 0;
    bool read = ::GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
    if (!read && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer.resize(needed);
        read = ::GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed);
    }
    ::CloseHandle(token);
    char* sid = nullptr;
    if (!read || !::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        error = "the user's SID cannot be read (" + std::to_string(::GetLastError()) + ")";
        return false;
    }
    const std::string sddl = std::string("D:P(A;;GA;;;") + sid + ")";
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                               nullptr)) {
        error = "the pipe's access list cannot be made (" + std::to_string(::GetLastError()) + ")";
        return false;
    }
    attributes = {sizeof attributes, descriptor, FALSE};
    return true;
}

class PipePageServer : public PageSourceServer
{
public:
    PipePageServer(std::shared_ptr<PageSource> pages, std::string name, SECURITY_ATTRIBUTES security, HANDLE first)
        : m_pages(std::move(pages)), m_name(std::move(name)), m_security(security),
          m_stop(::CreateEventA(nullptr, TRUE, FALSE, nullptr)), m_demand(::CreateEventA(nullptr, FALSE, FALSE, nullptr))
    {
        m_listening.pipe = first;
        m_pages->SetBodiesNotice([this] { ::SetEvent(m_demand); });
        m_thread = std::thread([this] { Run(); });
    }

    ~PipePageServer() override
    {
        m_pages->SetBodiesNotice(nullptr);
        ::SetEvent(m_stop);
        m_thread.join();
        for (Connection& connection : m_connections)
            Close(connection, false);
        Discard(m_listening);
        ::CloseHandle(m_stop);
        ::CloseHandle(m_demand);
        ::LocalFree(m_security.lpSecurityDescriptor);
    }

private:
    struct Connection
    {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        HANDLE event = nullptr;
        OVERLAPPED overlapped{};
        bool pending = false;
        PageSource::ConnectionId id = 0;
        PageFrameReader reader;
        char buffer[BufferSize];
        bool introduced = false;
    };

    void Discard(Connection& connection)
    {
        if (connection.pending) {
            ::CancelIoEx(connection.pipe, &connection.overlapped);
            DWORD ignored = 0;
            ::GetOverlappedResult(connection.pipe, &connection.overlapped, &ignored, TRUE);
        }
        if (connection.pipe != INVALID_HANDLE_VALUE)
            ::CloseHandle(connection.pipe);
        if (connection.event)
            ::CloseHandle(connection.event);
        connection.pipe = INVALID_HANDLE_VALUE;
        connection.event = nullptr;
        connection.pending = false;
    }

    HANDLE NewInstance()
    {
        return ::CreateNamedPipeA(m_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                  PIPE_UNLIMITED_INSTANCES, BufferSize, BufferSize, 0, &m_security);
    }

    // Waits for the next host on the listening instance; false when none can be waited for.
    bool Listen()
    {
        if (m_listening.pipe == INVALID_HANDLE_VALUE)
            m_listening.pipe = NewInstance();
        if (m_listening.pipe == INVALID_HANDLE_VALUE) {
            AGENT_LOG(kzb::log::Error, "Browser pages: no more hosts can connect (%lu)", ::GetLastError());
            return false;
        }
        if (!m_listening.event)
            m_listening.event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_listening.overlapped = {};
        m_listening.overlapped.hEvent = m_listening.event;
        // A host that came between the instance's creation and this call is connected already:
        // no operation is under way then, and Accept must not ask for its result.
        m_connectedAtOnce = false;
        if (::ConnectNamedPipe(m_listening.pipe, &m_listening.overlapped)) {
            m_connectedAtOnce = true;
        } else {
            const DWORD error = ::GetLastError();
            if (error == ERROR_PIPE_CONNECTED)
                m_connectedAtOnce = true;
            else if (error != ERROR_IO_PENDING)
                return false;
        }
        if (m_connectedAtOnce)
            ::SetEvent(m_listening.event);
        m_listening.pending = !m_connectedAtOnce;
        return true;
    }

    void Run()
    {
        bool listening = Listen();
        std::vector<HANDLE> events;
        for (;;) {
            events = {m_stop, m_demand};
            if (listening)
                events.push_back(m_listening.event);
            for (const Connection& connection : m_connections)
                events.push_back(connection.event);
            const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                                         INFINITE);
            if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
                return;
            if (woken == WAIT_OBJECT_0 + 1) {
                for (auto it = m_connections.begin(); it != m_connections.end();) {
                    if (SendDemand(*it)) {
                        ++it;
                    } else {
                        Close(*it, true);
                        it = m_connections.erase(it);
                    }
                }
                if (!listening)
                    listening = Listen();
                continue;
            }
            const std::size_t index = woken - WAIT_OBJECT_0 - 2;
            if (listening && index == 0) {
                Accept();
                listening = m_connections.size() < MaxConnections && Listen();
                continue;
            }
            auto it = m_connections.begin();
            std::advance(it, index - (listening ? 1 : 0));
            if (!Completed(*it)) {
                Close(*it, true);
                m_connections.erase(it);
                if (!listening)
                    listening = Listen();
            }
        }
    }

    void Accept()
    {
        DWORD ignored = 0;
        m_listening.pending = false;
        const bool connected = m_connectedAtOnce ||
                               ::GetOverlappedResult(m_listening.pipe, &m_listening.overlapped, &ignored, FALSE) ||
                               ::GetLastError() == ERROR_PIPE_CONNECTED;
        if (!connected) {
            Discard(m_listening);
            return;
        }
        // The access list admits this user only; a host of another session of the same user
        // belongs to that session's agent.
        ULONG session = 0, own = 0;
        if (::GetNamedPipeClientSessionId(m_listening.pipe, &session) &&
            ::ProcessIdToSessionId(::GetCurrentProcessId(), &own) && session != own) {
            AGENT_LOG(kzb::log::Warning, "Browser pages: a host of session %lu refused; this agent serves session %lu",
                    static_cast<unsigned long>(session), static_cast<unsigned long>(own));
            ::DisconnectNamedPipe(m_listening.pipe);
            Discard(m_listening);
            return;
        }
        Connection& connection = m_connections.emplace_back();
        connection.pipe = m_listening.pipe;
        connection.event = m_listening.event;
        m_listening.pipe = INVALID_HANDLE_VALUE;
        m_listening.event = nullptr;
        connection.id = m_pages->Connect();
        if (!SendDemand(connection) || !StartRead(connection)) {
            Close(connection, false);
            m_connections.pop_back();
        }
    }

    bool StartRead(Connection& connection)
    {
        for (;;) {
            connection.overlapped = {};
            connection.overlapped.hEvent = connection.event;
            ::ResetEvent(connection.event);
            DWORD got = 0;
            if (::ReadFile(connection.pipe, connection.buffer, BufferSize, &got, &connection.overlapped)) {
                // Done at once: taken now, and the next read started.
                Take(connection, got);
                continue;
            }
            if (::GetLastError() != ERROR_IO_PENDING)
                return false;
            connection.pending = true;
            return true;
        }
    }

    // A read finished; false when the connection ended.
    bool Completed(Connection& connection)
    {
        DWORD got = 0;
        connection.pending = false;
        if (!::GetOverlappedResult(connection.pipe, &connection.overlapped, &got, FALSE))
            return false;
        Take(connection, got);
        return StartRead(connection);
    }

    void Take(Connection& connection, DWORD got)
    {
        connection.reader.Append(connection.buffer, got);
        while (auto frame = connection.reader.Next())
            Handle(connection, *frame);
    }

    void Handle(Connection& connection, const PageFrameReader::Frame& frame)
    {
        m_pages->Take(connection.id, frame, connection.introduced);
    }

    // Small and rare: written at once, waiting at most a second for a host that does not
    // read; false when it could not be written (the connection is then closed).
    bool SendDemand(Connection& connection)
    {
        PageMessage demand;
        demand.kind = PageMessage::Kind::Bodies;
        demand.bodiesWanted = m_pages->BodiesWanted();
        const std::string frame = FramePageMessage(FormatPageMessage(demand));
        // On the heap: a write that cannot be cancelled keeps it, and its event, for good.
        auto overlapped = std::make_unique<OVERLAPPED>();
        overlapped->hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        if (::WriteFile(connection.pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, overlapped.get())) {
            ::CloseHandle(overlapped->hEvent);
            return true;
        }
        if (::GetLastError() != ERROR_IO_PENDING) {
            ::CloseHandle(overlapped->hEvent);
            return false;
        }
        bool sent = ::WaitForSingleObject(overlapped->hEvent, 1000) == WAIT_OBJECT_0 &&
                    ::GetOverlappedResult(connection.pipe, overlapped.get(), &written, FALSE);
        if (!sent) {
            AGENT_LOG(kzb::log::Warning, "Browser pages: host %llu does not read; it is let go",
                    static_cast<unsigned long long>(connection.id));
            ::CancelIoEx(connection.pipe, overlapped.get());
            if (!::GetOverlappedResult(connection.pipe, overlapped.get(), &written, FALSE) &&
                ::GetLastError() == ERROR_IO_INCOMPLETE) {
                overlapped.release();
                return false;
            }
        }
        ::CloseHandle(overlapped->hEvent);
        return sent;
    }

    void Close(Connection& connection, bool log)
    {
        m_pages->Leave(connection.id, log && connection.introduced);
        Discard(connection);
    }

    std::shared_ptr<PageSource> m_pages;
    const std::string m_name;
    SECURITY_ATTRIBUTES m_security;
    const HANDLE m_stop;
    const HANDLE m_demand;
    Connection m_listening;
    bool m_connectedAtOnce = false;
    std::list<Connection> m_connections; // the server thread's alone
    std::thread m_thread;
};

} // namespace

std::unique_ptr<PageSourceServer> ServeBrowserPages(std::shared_ptr<PageSource> pages)
{
    std::string error;
    const std::string name = PageChannelName(error);
    SECURITY_ATTRIBUTES security{};
    if (name.empty() || !CurrentUserOnly(security, error)) {
        AGENT_LOG(kzb::log::Error, "Browser pages: none are read: %s", error.c_str());
        return nullptr;
    }
    // Any pipe of the name, however made, is another's: the first instance flag says so on
    // Windows, and a look first says so where the flag is not kept (Wine).
    // (Waiting for an instance tells whether the pipe exists without connecting to it.)
    if (::WaitNamedPipeA(name.c_str(), 1) || ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        AGENT_LOG(kzb::log::Warning, "Browser pages: the pipe '%s' exists already (another agent of this session?); "
                                   "this one reads none", name.c_str());
        ::LocalFree(security.lpSecurityDescriptor);
        return nullptr;
    }
    const HANDLE first = ::CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, PIPE_UNLIMITED_INSTANCES,
        BufferSize, BufferSize, 0, &security);
    if (first == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY)
            AGENT_LOG(kzb::log::Warning, "Browser pages: the pipe '%s' exists already (another agent of this session?); "
                                       "this one reads none", name.c_str());
        else
            AGENT_LOG(kzb::log::Error, "Browser pages: none are read: the pipe '%s' cannot be made (%lu)", name.c_str(),
                    code);
        ::LocalFree(security.lpSecurityDescriptor);
        return nullptr;
    }
    AGENT_LOG(kzb::log::Message, "Browser pages: waiting for the browser extension's host on '%s'", name.c_str());
    return std::make_unique<PipePageServer>(std::move(pages), name, security, first);
}

} // namespace kzb::inspection

// The page hosts of this user reach the agent on a Unix socket in the user's private
// folder; each connection's peer must be this very user. One thread serves them all and
// sleeps in poll until a host writes, a demand for bodies changes or the server stops.
#include "PageSource.h"

#include "Log.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <thread>

namespace kzb::inspection {

namespace {

class UnixPageServer : public PageSourceServer
{
public:
    UnixPageServer(std::shared_ptr<PageSource> pages, std::string path, int listener, int wake)
        : m_pages(std::move(pages)), m_path(std::move(path)), m_listener(listener), m_wake(wake)
    {
        m_pages->SetBodiesNotice([this] {
            m_demandChanged = true;
            Wake();
        });
        m_thread = std::thread([this] { Run(); });
    }

    ~UnixPageServer() override
    {
        m_pages->SetBodiesNotice(nullptr);
        m_stop = true;
        Wake();
        m_thread.join();
        for (Connection& connection : m_connections)
            Close(connection, false);
        ::close(m_listener);
        ::close(m_wake);
        ::unlink(m_path.c_str());
    }

private:
    struct Connection
    {
        int fd = -1;
        PageSource::ConnectionId id = 0;
        PageFrameReader reader;
        std::string out;
        bool introduced = false;
    };

    void Wake()
    {
        const std::uint64_t one = 1;
        if (::write(m_wake, &one, sizeof one) < 0)
            AGENT_LOG(kzb::log::Error, "Browser pages: the page server cannot be woken (%s)", std::strerror(errno));
    }

    void Run()
    {
        std::vector<pollfd> watched;
        while (!m_stop) {
            watched.clear();
            watched.push_back({m_wake, POLLIN, 0});
            watched.push_back({m_listener, POLLIN, 0});
            for (const Connection& connection : m_connections)
                watched.push_back({connection.fd, static_cast<short>(POLLIN | (connection.out.empty() ? 0 : POLLOUT)), 0});
            if (::poll(watched.data(), watched.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                AGENT_LOG(kzb::log::Error, "Browser pages: the page server stops (%s)", std::strerror(errno));
                return;
            }
            if (watched[0].revents != 0) {
                std::uint64_t count = 0;
                if (::read(m_wake, &count, sizeof count) < 0 && errno != EAGAIN)
                    return;
                if (m_stop)
                    return;
                if (m_demandChanged.exchange(false)) {
                    for (Connection& connection : m_connections)
                        QueueDemand(connection);
                }
            }
            std::size_t index = 2;
            for (auto it = m_connections.begin(); it != m_connections.end(); ++index) {
                const short events = watched[index].revents;
                bool open = true;
                if (events & (POLLIN | POLLHUP | POLLERR))
                    open = Read(*it);
                if (open && !it->out.empty())
                    open = Flush(*it);
                if (!open) {
                    Close(*it, true);
                    it = m_connections.erase(it);
                } else {
                    ++it;
                }
            }
            if (watched[1].revents & POLLIN)
                Accept();
        }
    }

    void Accept()
    {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::getuid()) {
            AGENT_LOG(kzb::log::Warning,
                    "Browser pages: a connection of user %u refused; only this session's user reports pages",
                    static_cast<unsigned>(peer.uid));
            ::close(fd);
            return;
        }
        Connection& connection = m_connections.emplace_back();
        connection.fd = fd;
        connection.id = m_pages->Connect();
        // Also asks the extension for the state of every window.
        QueueDemand(connection);
        Flush(connection);
    }

    void QueueDemand(Connection& connection)
    {
        PageMessage demand;
        demand.kind = PageMessage::Kind::Bodies;
        demand.bodiesWanted = m_pages->BodiesWanted();
        connection.out += FramePageMessage(FormatPageMessage(demand));
    }

    // False when the connection is to be closed.
    bool Read(Connection& connection)
    {
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
            if (got == 0)
                return false;
            if (got < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            connection.reader.Append(buffer, static_cast<std::size_t>(got));
            while (auto frame = connection.reader.Next())
                Handle(connection, *frame);
        }
    }

    void Handle(Connection& connection, const PageFrameReader::Frame& frame)
    {
        m_pages->Take(connection.id, frame, connection.introduced);
    }

    bool Flush(Connection& connection)
    {
        while (!connection.out.empty()) {
            const ssize_t sent = ::send(connection.fd, connection.out.data(), connection.out.size(), MSG_NOSIGNAL);
            if (sent < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            connection.out.erase(0, static_cast<std::size_t>(sent));
        }
        return true;
    }

    void Close(Connection& connection, bool log)
    {
        m_pages->Leave(connection.id, log && connection.introduced);
        ::close(connection.fd);
    }

    std::shared_ptr<PageSource> m_pages;
    const std::string m_path;
    const int m_listener;
    const int m_wake;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_demandChanged{false};
    std::list<Connection> m_connections; // the server thread's alone
    std::thread m_thread;
};

} // namespace

std::unique_ptr<PageSourceServer> ServeBrowserPages(std::shared_ptr<PageSource> pages)
{
    std::string error;
    const std::string path = PageChannelName(error);
    if (path.empty()) {
        AGENT_LOG(kzb::log::Error, "Browser pages: none are read: %s", error.c_str());
        return nullptr;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        AGENT_LOG(kzb::log::Error, "Browser pages: none are read: the socket path '%s' is too long", path.c_str());
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        AGENT_LOG(kzb::log::Error, "Browser pages: none are read: no socket (%s)", std::strerror(errno));
        return nullptr;
    }
    // A socket left by an agent that ended without cleaning up is taken over; one that
    // answers belongs to an agent still running, which keeps it.
    if (::access(path.c_str(), F_OK) == 0) {
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (probe >= 0)
            ::close(probe);
        if (live) {
            AGENT_LOG(kzb::log::Warning, "Browser pages: another agent of this session reads them; this one reads none");
            ::close(listener);
            return nullptr;
        }
        ::unlink(path.c_str());
    }
    // Made ready under a name of its own and then put in place, so that a host that sees the
    // socket appear can connect at once.
    sockaddr_un ready = address;
    const std::string readyPath = path + "." + std::to_string(::getpid());
    if (readyPath.size() >= sizeof ready.sun_path) {
        AGENT_LOG(kzb::log::Error, "Browser pages: none are read: the socket path '%s' is too long", path.c_str());
        ::close(listener);
        return nullptr;
    }
    std::memcpy(ready.sun_path, readyPath.c_str(), readyPath.size() + 1);
    ::unlink(readyPath.c_str());
    if (::bind(listener, reinterpret_cast<sockaddr*>(&ready), sizeof ready) != 0 ||
        ::chmod(readyPath.c_str(), 0600) != 0 || ::listen(listener, 8) != 0 ||
        ::rename(readyPath.c_str(), path.c_str()) != 0) {
        AGENT_LOG(kzb::log::Error, "Browser pages: none are read: cannot listen on '%s' (%s)", path.c_str(),
                std::strerror(errno));
        ::close(listener);
        ::unlink(readyPath.c_str());
        return nullptr;
    }
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        ::close(listener);
        ::unlink(path.c_str());
        return nullptr;
    }
    AGENT_LOG(kzb::log::Message, "Browser pages: waiting for the browser extension's host on '%s'", path.c_str());
    return std::make_unique<UnixPageServer>(std::move(pages), path, listener, wake);
}

} // namespace kzb::inspection

#include "Net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kzb::net {

namespace {
int Fd(SocketHandle socket)
{
    return static_cast<int>(socket);
}

// "(" code ") " text; built step by step (GCC 12 warns wrongly about the one-expression form).
std::string CodeAndText(int code, const char* text)
{
    std::string result = "(";
    result += std::to_string(static_cast<unsigned>(code));
    result += ") ";
    result += text ? text : "";
    return result;
}
} // namespace

int StartUp()
{
    return 0;
}

void CleanUp()
{
}

int LastError()
{
    return errno;
}

std::string ErrorText(int code)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may not be in the buffer.
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    return CodeAndText(code, text);
}

bool IsWouldBlock(int code)
{
    return code == EWOULDBLOCK || code == EAGAIN || code == EINPROGRESS;
}

bool Resolve(const std::string& host, std::uint16_t port, std::vector<Endpoint>& endpoints, std::string& errorText)
{
    addrinfo hints{};
    hints.ai_flags = 0;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &result);
    if (rc != 0) {
        // The resolver's own codes have their own texts.
        errorText = CodeAndText(rc, ::gai_strerror(rc));
        return false;
    }
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        Endpoint endpoint;
        endpoint.family = entry->ai_family;
        endpoint.socketType = entry->ai_socktype;
        endpoint.protocol = entry->ai_protocol;
        endpoint.addressLength = std::min<std::size_t>(entry->ai_addrlen, endpoint.address.size());
        std::memcpy(endpoint.address.data(), entry->ai_addr, endpoint.addressLength);
        endpoints.push_back(endpoint);
    }
    ::freeaddrinfo(result);
    return true;
}

SocketHandle OpenSocket(const Endpoint& endpoint)
{
    const int fd = ::socket(endpoint.family, endpoint.socketType | SOCK_CLOEXEC, endpoint.protocol);
    return fd < 0 ? InvalidSocket : static_cast<SocketHandle>(fd);
}

bool ConnectBlocking(SocketHandle socket, const Endpoint& endpoint)
{
    int rc;
    do {
        rc = ::connect(Fd(socket), reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                       static_cast<socklen_t>(endpoint.addressLength));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

namespace {
bool StartConnect(SocketHandle socket, const Endpoint& endpoint)
{
    return ::connect(Fd(socket), reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<socklen_t>(endpoint.addressLength)) == 0;
}

// The outcome of a finished non-blocking connect; errno tells why it failed.
bool ConnectResult(SocketHandle socket)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return false;
    errno = error;
    return error == 0;
}
} // namespace

bool ConnectCancellable(SocketHandle socket, const Endpoint& endpoint, SocketHandle cancel)
{
    if (!SetNonBlocking(socket))
        return false;
    if (StartConnect(socket, endpoint))
        return true;
    if (!IsWouldBlock(LastError()))
        return false;
    PollItem items[2] = {{socket, false, true}, {cancel, true, false}};
    const std::size_t count = cancel == InvalidSocket ? 1 : 2;
    for (;;) {
        const int ready = Poll({items, count}, -1);
        if (ready < 0)
            return false;
        if (count == 2 && items[1].readable)
            return false;
        if (items[0].writable || items[0].readable)
            return ConnectResult(socket);
    }
}

bool SetNonBlocking(SocketHandle socket)
{
    const int flags = ::fcntl(Fd(socket), F_GETFL, 0);
    return flags >= 0 && ::fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetSendBufferSize(SocketHandle socket, int bytes)
{
    ::setsockopt(Fd(socket), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

bool DetectLostPeer(SocketHandle socket)
{
    // With a user time-out set, Linux ends a probed idle connection once that time-out has
    // passed without an answer, and a connection with data in flight once the oldest
    // unacknowledged byte is that old. A send may start just before an idle connection's
    // time-out ends and then gets a whole one of its own: half the limit each way keeps the
    // worst case within the limit.
    const int on = 1;
    const int idleSeconds = 2;
    const int probeSeconds = 1;
    const int probes = 5;
    const unsigned timeoutMs = LostPeerLimitSeconds * 1000 / 2;
    const int fd = Fd(socket);
    return ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probeSeconds, sizeof probeSeconds) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0 &&
           ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeoutMs, sizeof timeoutMs) == 0;
}

long UnacknowledgedBytes(SocketHandle socket)
{
    int count = 0;
    return ::ioctl(Fd(socket), SIOCOUTQ, &count) == 0 ? count : -1;
}

void CloseSocket(SocketHandle socket)
{
    if (socket != InvalidSocket)
        ::close(Fd(socket));
}

void AbortSocket(SocketHandle socket)
{
    linger option{1, 0};
    ::setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &option, sizeof option);
    CloseSocket(socket);
}

long Receive(SocketHandle socket, std::uint8_t* data, std::size_t size)
{
    ssize_t count;
    do {
        count = ::recv(Fd(socket), data, size, 0);
    } while (count < 0 && errno == EINTR);
    return static_cast<long>(count);
}

long SendSome(SocketHandle socket, const std::uint8_t* data, std::size_t size)
{
    ssize_t count;
    do {
        count = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
    } while (count < 0 && errno == EINTR);
    return static_cast<long>(count);
}

int Poll(std::span<PollItem> items, int timeoutMs)
{
    std::vector<pollfd> fds(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = Fd(items[i].socket);
        fds[i].events = static_cast<short>((items[i].wantRead ? POLLIN : 0) | (items[i].wantWrite ? POLLOUT : 0));
    }
    const int rc = ::poll(fds.data(), fds.size(), timeoutMs);
    if (rc < 0)
        return errno == EINTR ? 0 : -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
        items[i].writable = (fds[i].revents & (POLLOUT | POLLERR | POLLHUP)) != 0;
    }
    return rc;
}

std::string PeerName(SocketHandle socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    char host[1025] = {};
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NOFQDN | NI_NAMEREQD) == 0)
        return host;
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) == 0)
        return host;
    return {};
}

std::uint16_t LocalPort(SocketHandle socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

bool CreateLoopbackPair(SocketHandle& first, SocketHandle& second)
{
    first = second = InvalidSocket;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bool ok = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::listen(listener, 1) == 0 &&
              ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    int connecting = ok ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    ok = connecting >= 0 && ::connect(connecting, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int accepted = ok ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    ::close(listener);
    if (accepted < 0) {
        if (connecting >= 0)
            ::close(connecting);
        return false;
    }
    first = static_cast<SocketHandle>(connecting);
    second = static_cast<SocketHandle>(accepted);
    return true;
}

Waker::Waker()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        throw std::runtime_error("Waker - socketpair() failed with error: " + ErrorText(errno));
    m_read = static_cast<SocketHandle>(fds[0]);
    m_write = static_cast<SocketHandle>(fds[1]);
}

Waker::~Waker()
{
    CloseSocket(m_read);
    CloseSocket(m_write);
}

void Waker::Signal()
{
    const std::uint8_t byte = 1;
    // A full channel is already signalled.
    (void)SendSome(m_write, &byte, 1);
}

void Waker::Drain()
{
    std::uint8_t buffer[64];
    while (Receive(m_read, buffer, sizeof buffer) > 0) {
    }
}

} // namespace kzb::net

#include "Net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kzb::net {

namespace {
SOCKET Sock(SocketHandle socket)
{
    return static_cast<SOCKET>(socket);
}
} // namespace

int StartUp()
{
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

void CleanUp()
{
    ::WSACleanup();
}

int LastError()
{
    return ::WSAGetLastError();
}

std::string ErrorText(int code)
{
    std::string text = "(" + std::to_string(static_cast<unsigned>(code)) + ") ";
    char buffer[512] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          static_cast<DWORD>(code), 1033, buffer, sizeof buffer, nullptr);
    if (length > 0)
        text.append(buffer, length);
    return text;
}

bool IsWouldBlock(int code)
{
    return code == WSAEWOULDBLOCK;
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
    if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &result) != 0) {
        errorText = ErrorText(::WSAGetLastError());
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
    const SOCKET socket = ::socket(endpoint.family, endpoint.socketType, endpoint.protocol);
    return socket == INVALID_SOCKET ? InvalidSocket : static_cast<SocketHandle>(socket);
}

bool ConnectBlocking(SocketHandle socket, const Endpoint& endpoint)
{
    return ::connect(Sock(socket), reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<int>(endpoint.addressLength)) == 0;
}

namespace {
bool StartConnect(SocketHandle socket, const Endpoint& endpoint)
{
    return ::connect(Sock(socket), reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<int>(endpoint.addressLength)) == 0;
}

// The outcome of a finished non-blocking connect; WSAGetLastError tells why it failed.
bool ConnectResult(SocketHandle socket)
{
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(Sock(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return false;
    ::WSASetLastError(error);
    return error == 0;
}
} // namespace

bool ConnectCancellable(SocketHandle socket, const Endpoint& endpoint, SocketHandle cancel)
{
    if (!SetNonBlocking(socket))
        return false;
    if (StartConnect(socket, endpoint))
        return true;
    if (::WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    // select, not WSAPoll: WSAPoll does not report failed connects on older Windows 10.
    for (;;) {
        fd_set writable, failed, cancelled;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_ZERO(&cancelled);
        FD_SET(Sock(socket), &writable);
        FD_SET(Sock(socket), &failed);
        if (cancel != InvalidSocket)
            FD_SET(Sock(cancel), &cancelled);
        const int ready = ::select(0, &cancelled, &writable, &failed, nullptr);
        if (ready == SOCKET_ERROR)
            return false;
        if (cancel != InvalidSocket && FD_ISSET(Sock(cancel), &cancelled))
            return false;
        if (FD_ISSET(Sock(socket), &writable) || FD_ISSET(Sock(socket), &failed))
            return ConnectResult(socket);
    }
}

bool SetNonBlocking(SocketHandle socket)
{
    u_long on = 1;
    return ::ioctlsocket(Sock(socket), FIONBIO, &on) == 0;
}

void SetSendBufferSize(SocketHandle socket, int bytes)
{
    ::setsockopt(Sock(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

bool DetectLostPeer(SocketHandle socket)
{
    // Not in MinGW's headers: TCP_MAXRT bounds retransmission (seconds, Vista and later);
    // TCP_KEEPCNT sets the probe count (Windows 10 1703 and later; 10 probes before).
    constexpr int TcpMaxRetransmitTime = 5;
    constexpr int TcpKeepAliveCount = 16;
    // Idle: probes after 2 s, then every second. Data in flight: half the limit, as natively,
    // since a send may start just before the probes give up.
    tcp_keepalive values{1, 2000, 1000};
    DWORD returned = 0;
    if (::WSAIoctl(Sock(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                   nullptr) != 0)
        return false;
    const int probes = 5;
    // Older Windows keeps its 10 probes: 12 s instead of 7 s while idle, still within the limit.
    (void)::setsockopt(Sock(socket), IPPROTO_TCP, TcpKeepAliveCount, reinterpret_cast<const char*>(&probes),
                       sizeof probes);
    // Wine 8 refuses TCP_MAXRT (WSAENOPROTOOPT): there only an idle connection is bounded.
    const int retransmitSeconds = LostPeerLimitSeconds / 2;
    return ::setsockopt(Sock(socket), IPPROTO_TCP, TcpMaxRetransmitTime, reinterpret_cast<const char*>(&retransmitSeconds),
                        sizeof retransmitSeconds) == 0;
}

namespace {
std::uint16_t Port(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}
} // namespace

long UnacknowledgedBytes(SocketHandle socket)
{
    // Windows tells this only from Windows 10 1703 (SIO_TCP_INFO), and Wine not at all; under
    // Wine the socket is the Linux kernel's, whose table is on drive Z:. Elsewhere the table
    // is missing and the answer is "cannot tell".
    sockaddr_storage local{};
    sockaddr_storage peer{};
    int length = sizeof local;
    if (::getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return -1;
    length = sizeof peer;
    if (::getpeername(Sock(socket), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return -1;
    const char* table = local.ss_family == AF_INET6 ? "Z:\\proc\\net\\tcp6" : "Z:\\proc\\net\\tcp";
    FILE* file = std::fopen(table, "r");
    if (file == nullptr)
        return -1;
    long found = -1;
    char line[512];
    while (found < 0 && std::fgets(line, sizeof line, file) != nullptr) {
        // "sl: local_address:port rem_address:port st tx_queue:rx_queue ...", all in hex.
        char localText[64] = {};
        char peerText[64] = {};
        unsigned state = 0;
        unsigned long queued = 0;
        if (std::sscanf(line, " %*[0-9]: %63s %63s %x %lx:", localText, peerText, &state, &queued) != 4)
            continue;
        const char* localPort = std::strrchr(localText, ':');
        const char* peerPort = std::strrchr(peerText, ':');
        if (localPort == nullptr || peerPort == nullptr)
            continue;
        if (std::strtoul(localPort + 1, nullptr, 16) == Port(local) &&
            std::strtoul(peerPort + 1, nullptr, 16) == Port(peer))
            found = static_cast<long>(queued);
    }
    std::fclose(file);
    return found;
}

void CloseSocket(SocketHandle socket)
{
    if (socket != InvalidSocket)
        ::closesocket(Sock(socket));
}

void AbortSocket(SocketHandle socket)
{
    linger option{1, 0};
    ::setsockopt(Sock(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
    CloseSocket(socket);
}

long Receive(SocketHandle socket, std::uint8_t* data, std::size_t size)
{
    const int count = ::recv(Sock(socket), reinterpret_cast<char*>(data), static_cast<int>(size), 0);
    return count == SOCKET_ERROR ? -1 : count;
}

long SendSome(SocketHandle socket, const std::uint8_t* data, std::size_t size)
{
    const int count = ::send(Sock(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
    return count == SOCKET_ERROR ? -1 : count;
}

int Poll(std::span<PollItem> items, int timeoutMs)
{
    std::vector<WSAPOLLFD> fds(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = Sock(items[i].socket);
        fds[i].events = static_cast<SHORT>((items[i].wantRead ? POLLRDNORM : 0) | (items[i].wantWrite ? POLLWRNORM : 0));
    }
    const int rc = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    if (rc == SOCKET_ERROR)
        return -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].readable = (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
        items[i].writable = (fds[i].revents & (POLLWRNORM | POLLERR | POLLHUP)) != 0;
    }
    return rc;
}

std::string PeerName(SocketHandle socket)
{
    sockaddr_storage address{};
    int length = sizeof address;
    if (::getpeername(Sock(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
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
    int length = sizeof address;
    if (::getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

bool CreateLoopbackPair(SocketHandle& first, SocketHandle& second)
{
    first = second = InvalidSocket;
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bool ok = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::listen(listener, 1) == 0 &&
              ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    SOCKET connecting = ok ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    ok = connecting != INVALID_SOCKET &&
         ::connect(connecting, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const SOCKET accepted = ok ? ::accept(listener, nullptr, nullptr) : INVALID_SOCKET;
    ::closesocket(listener);
    if (accepted == INVALID_SOCKET) {
        if (connecting != INVALID_SOCKET)
            ::closesocket(connecting);
        return false;
    }
    first = static_cast<SocketHandle>(connecting);
    second = static_cast<SocketHandle>(accepted);
    return true;
}

Waker::Waker()
{
    StartUp();
    if (!CreateLoopbackPair(m_write, m_read)) {
        CleanUp();
        throw std::runtime_error("Waker - no loopback socket pair: " + ErrorText(::WSAGetLastError()));
    }
    SetNonBlocking(m_read);
    SetNonBlocking(m_write);
}

Waker::~Waker()
{
    CloseSocket(m_read);
    CloseSocket(m_write);
    CleanUp();
}

void Waker::Signal()
{
    const std::uint8_t byte = 1;
    (void)SendSome(m_write, &byte, 1);
}

void Waker::Drain()
{
    std::uint8_t buffer[64];
    while (Receive(m_read, buffer, sizeof buffer) > 0) {
    }
}

} // namespace kzb::net

#pragma once

// The platform's sockets behind one small interface: WinSock 2.2 on Windows, POSIX sockets
// natively (Net_win.cpp, Net_posix.cpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kzb::net {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle InvalidSocket = ~SocketHandle{0};

// WinSock start-up (version 2.2) and clean-up; natively nothing to do. 0 or the error code.
int StartUp();
void CleanUp();

// The error of the calling thread's last socket call (WSAGetLastError, errno).
int LastError();
// "(" code ") " and the system's message for the code (US English on Windows).
std::string ErrorText(int code);
// Nothing waiting / no room on a non-blocking socket.
bool IsWouldBlock(int code);

// One address of a resolved host.
struct Endpoint
{
    int family = 0;
    int socketType = 0;
    int protocol = 0;
    std::array<std::uint8_t, 128> address{};
    std::size_t addressLength = 0;
};

// Resolves host (empty: the null node) and port for TCP over IPv4 or IPv6, in the
// resolver's order. On failure returns false and the error text of the failure.
bool Resolve(const std::string& host, std::uint16_t port, std::vector<Endpoint>& endpoints, std::string& errorText);

SocketHandle OpenSocket(const Endpoint& endpoint);
bool ConnectBlocking(SocketHandle socket, const Endpoint& endpoint);
// Connects like ConnectBlocking, but gives up as soon as cancel (a Waker's ReadEnd, or
// InvalidSocket for none) becomes readable. Leaves the socket non-blocking.
bool ConnectCancellable(SocketHandle socket, const Endpoint& endpoint, SocketHandle cancel);
bool SetNonBlocking(SocketHandle socket);
void SetSendBufferSize(SocketHandle socket, int bytes);
// A peer that vanished without closing (cable pulled, host frozen) is otherwise found only when
// TCP gives up retransmitting, many minutes later. Probes an idle connection and bounds how
// long sent data may stay unacknowledged, so that the connection fails within
// LostPeerLimitSeconds of the peer going silent, whatever was being sent. False when the
// platform bounds only the idle case (Wine maps the keep-alive values but no retransmission
// bound).
bool DetectLostPeer(SocketHandle socket);
inline constexpr int LostPeerLimitSeconds = 15;
// Bytes written to a connected socket that the peer has not acknowledged yet (sent or not);
// -1 when the platform cannot tell.
long UnacknowledgedBytes(SocketHandle socket);
void CloseSocket(SocketHandle socket);
// Closes with a reset instead of an orderly close.
void AbortSocket(SocketHandle socket);

// Counts received or sent, or -1 with LastError() telling why.
long Receive(SocketHandle socket, std::uint8_t* data, std::size_t size);
long SendSome(SocketHandle socket, const std::uint8_t* data, std::size_t size);

struct PollItem
{
    SocketHandle socket = InvalidSocket;
    bool wantRead = false;
    bool wantWrite = false;
    // Results; a hang-up or error shows as readable so that the next read finds it.
    bool readable = false;
    bool writable = false;
};
// Waits until an item is ready or the time-out (ms, negative: none) passes. Items ready, 0 on
// time-out, -1 on failure.
int Poll(std::span<PollItem> items, int timeoutMs);

// The peer's short host name, or its numeric address when it has no name.
std::string PeerName(SocketHandle socket);
// The port a bound socket has.
std::uint16_t LocalPort(SocketHandle socket);

// Two connected TCP sockets on 127.0.0.1 (first: the connecting end). False on failure.
bool CreateLoopbackPair(SocketHandle& first, SocketHandle& second);

// A wake-up channel for a thread that waits in Poll: Signal makes ReadEnd readable until Drain.
class Waker
{
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    void Signal();
    void Drain();
    SocketHandle ReadEnd() const { return m_read; }

private:
    SocketHandle m_read = InvalidSocket;
    SocketHandle m_write = InvalidSocket;
};

} // namespace kzb::net

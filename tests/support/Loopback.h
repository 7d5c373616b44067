#pragma once

#include "comms/Net.h"
#include "protocol/Serializable.h"

#include <chrono>

// A connected TCP pair on 127.0.0.1: the agent's end (non-blocking, for a stream to own) and
// the peer's end, which the test drives as a recorder would.
class Loopback
{
public:
    Loopback();
    ~Loopback();

    // Hands the agent's end over (the taker closes it).
    kzb::net::SocketHandle TakeAgentEnd();

    void PeerSend(const ByteArray& bytes);
    // Exactly count bytes, or fewer when the time-out passes or the connection ends.
    ByteArray PeerReceive(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void PeerClose();
    void PeerReset();

private:
    kzb::net::SocketHandle m_agent = kzb::net::InvalidSocket;
    kzb::net::SocketHandle m_peer = kzb::net::InvalidSocket;
};

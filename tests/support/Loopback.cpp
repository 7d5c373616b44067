#include "Loopback.h"

#include <stdexcept>

namespace net = kzb::net;

Loopback::Loopback()
{
    net::StartUp();
    if (!net::CreateLoopbackPair(m_agent, m_peer))
        throw std::runtime_error("no loopback pair: " + net::ErrorText(net::LastError()));
    net::SetNonBlocking(m_agent);
}

Loopback::~Loopback()
{
    net::CloseSocket(m_agent);
    net::CloseSocket(m_peer);
    net::CleanUp();
}

net::SocketHandle Loopback::TakeAgentEnd()
{
    const net::SocketHandle agent = m_agent;
    m_agent = net::InvalidSocket;
    return agent;
}

void Loopback::PeerSend(const ByteArray& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const long count = net::SendSome(m_peer, bytes.data() + sent, bytes.size() - sent);
        if (count <= 0)
            throw std::runtime_error("peer send failed: " + net::ErrorText(net::LastError()));
        sent += static_cast<std::size_t>(count);
    }
}

ByteArray Loopback::PeerReceive(std::size_t count, std::chrono::milliseconds timeout)
{
    ByteArray received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        net::PollItem item{m_peer, true, false};
        if (net::Poll({&item, 1}, static_cast<int>(left.count())) <= 0)
            continue;
        std::uint8_t buffer[4096];
        const long got = net::Receive(m_peer, buffer, std::min(sizeof buffer, count - received.size()));
        if (got <= 0)
            break;
        received.insert(received.end(), buffer, buffer + got);
    }
    return received;
}

void Loopback::PeerClose()
{
    net::CloseSocket(m_peer);
    m_peer = net::InvalidSocket;
}

void Loopback::PeerReset()
{
    net::AbortSocket(m_peer);
    m_peer = net::InvalidSocket;
}

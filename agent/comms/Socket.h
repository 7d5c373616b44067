#pragma once

#include "Net.h"

#include <cstdint>
#include <memory>
#include <string>

class NetworkStream;

// Base of the socket clients: holds the socket library open for its lifetime.
class Socket
{
public:
    // Throws std::runtime_error when the socket library does not start.
    Socket();
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};

// A client that connects one socket and hands it over to a stream.
class SocketClient : public Socket
{
public:
    // Resolves and connects; throws std::runtime_error on failure.
    virtual void Connect(const std::string& host, std::uint16_t port) = 0;
    // A new stream that owns the connected socket; throws when there is none.
    virtual std::shared_ptr<NetworkStream> GetStream() = 0;

    // A handle whose readability abandons a connection attempt at once (a thread's stop).
    void SetCancel(kzb::net::SocketHandle cancel) { m_cancel = cancel; }

protected:
    kzb::net::SocketHandle GetCancel() const { return m_cancel; }

private:
    kzb::net::SocketHandle m_cancel = kzb::net::InvalidSocket;
};

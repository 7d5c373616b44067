#pragma once

#include "Net.h"
#include "protocol/Serializable.h"

#include <chrono>
#include <cstddef>

// A connected socket, owned: reads whatever is waiting and writes whole byte images.
class NetworkStream
{
public:
    explicit NetworkStream(kzb::net::SocketHandle socket) : m_socket(socket) {}
    virtual ~NetworkStream();
    NetworkStream(const NetworkStream&) = delete;
    NetworkStream& operator=(const NetworkStream&) = delete;

    // Fills data with up to maxCount waiting bytes; empty when nothing waits. False when the
    // connection is gone: an error, a reset or the peer's orderly close.
    virtual bool Read(ByteArray& data, std::size_t maxCount);
    // True only when every byte was sent; waits for room at most WriteTimeout.
    virtual bool Write(const ByteArray& data);
    // Bytes already taken off the socket that Read has not returned yet (TLS records).
    virtual bool HasBufferedData() const { return false; }

    kzb::net::SocketHandle GetSocket() const { return m_socket; }
    // Set where the socket itself cannot bound how long sent data stays unacknowledged: the
    // stream's owner then watches the unacknowledged bytes itself.
    void WatchDelivery() { m_watchDelivery = true; }
    bool WatchesDelivery() const { return m_watchDelivery; }

    static constexpr std::chrono::milliseconds WriteTimeout{2000};

protected:
    // Waits until the socket is readable or writable as asked, or the deadline passes.
    bool WaitFor(bool read, bool write, std::chrono::steady_clock::time_point deadline) const;

private:
    kzb::net::SocketHandle m_socket;
    bool m_watchDelivery = false;
};

// Plain TCP stream.
class TCPStream : public NetworkStream
{
public:
    using NetworkStream::NetworkStream;
};

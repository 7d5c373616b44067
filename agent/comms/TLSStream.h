#pragma once

#include "NetworkStream.h"

struct ssl_st;

// A TLS connection over a connected socket; owns the connection object and the socket.
class TLSStream : public TCPStream
{
public:
    TLSStream(kzb::net::SocketHandle socket, ssl_st* connection);
    ~TLSStream() override;

    // Empty when no whole record has arrived; false after the peer's close or an error.
    bool Read(ByteArray& data, std::size_t maxCount) override;
    // Retries while the connection wants to read or write, at most WriteTimeout.
    bool Write(const ByteArray& data) override;
    bool HasBufferedData() const override;

private:
    ssl_st* m_connection;
};

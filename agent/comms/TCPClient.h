#pragma once

#include "Socket.h"

// Plain TCP: connects to the first resolved address that accepts.
class TCPClient : public SocketClient
{
public:
    TCPClient() = default;
    // A socket that was connected but never handed to a stream is closed.
    ~TCPClient() override;

    void Connect(const std::string& host, std::uint16_t port) override;
    std::shared_ptr<NetworkStream> GetStream() override;

    static constexpr int SendBufferSize = 32768;

protected:
    kzb::net::SocketHandle GetSocket() const { return m_socket; }
    // Gives the stream the delivery watch where the socket could not take the bound.
    void PrepareStream(NetworkStream& stream) const;
    // Closes the connected socket after a failed set-up on top of it.
    void CloseSocket();
    // The stream now owns the socket.
    void HandOver() { m_handedOver = true; }

private:
    kzb::net::SocketHandle m_socket = kzb::net::InvalidSocket;
    bool m_handedOver = false;
    bool m_lostPeerBounded = false;
};

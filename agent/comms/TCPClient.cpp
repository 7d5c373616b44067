#include "TCPClient.h"

#include "NetworkStream.h"

#include <stdexcept>
#include <vector>

namespace net = kzb::net;

TCPClient::~TCPClient()
{
    if (!m_handedOver)
        CloseSocket();
}

void TCPClient::Connect(const std::string& host, std::uint16_t port)
{
    std::vector<net::Endpoint> endpoints;
    std::string errorText;
    if (!net::Resolve(host, port, endpoints, errorText))
        throw std::runtime_error("getaddrinfo() for " + host + ":" + std::to_string(port) +
                                 " failed with error: " + errorText);

    for (const net::Endpoint& endpoint : endpoints) {
        m_socket = net::OpenSocket(endpoint);
        if (m_socket == net::InvalidSocket)
            throw std::runtime_error("socket() failed with error: " + net::ErrorText(net::LastError()));
        if (net::ConnectCancellable(m_socket, endpoint, GetCancel())) {
            net::SetSendBufferSize(m_socket, SendBufferSize);
            m_handedOver = false;
            return;
        }
        net::CloseSocket(m_socket);
        m_socket = net::InvalidSocket;
    }
    throw std::runtime_error("Failed to connect to " + host);
}

std::shared_ptr<NetworkStream> TCPClient::GetStream()
{
    if (m_socket == net::InvalidSocket)
        throw std::runtime_error("Failed to connect socket: " + net::ErrorText(net::LastError()));
    HandOver();
    return std::make_shared<TCPStream>(m_socket);
}

void TCPClient::CloseSocket()
{
    net::CloseSocket(m_socket);
    m_socket = net::InvalidSocket;
}

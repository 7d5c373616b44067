#include "TCPClient.h"

#include "NetworkStream.h"

#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace net = kzb::net;

TCPClient::~TCPClient()
{
    if (!m_handedOver)
        CloseSocket();
}

namespace {

// A name look-up on a thread of its own, since nothing can interrupt one.
struct Lookup
{
    std::mutex mutex;
    bool resolved = false;
    std::vector<net::Endpoint> endpoints;
    std::string errorText;
    net::Waker done;
};

// Resolves like net::Resolve, but gives up as soon as cancel becomes readable (false, with
// no error text): a stop never waits for a slow name server. A look-up given up on ends
// by itself.
bool ResolveCancellable(const std::string& host, std::uint16_t port, net::SocketHandle cancel,
                        std::vector<net::Endpoint>& endpoints, std::string& errorText)
{
    // A numeric address is never looked up: no thread for it.
    // (A host name has no ':' and is never only digits and dots.)
    const bool numeric = !host.empty() && (host.find(':') != std::string::npos ||
                                           host.find_first_not_of("0123456789.") == std::string::npos);
    if (cancel == net::InvalidSocket || numeric)
        return net::Resolve(host, port, endpoints, errorText);
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port] {
        std::vector<net::Endpoint> found;
        std::string error;
        const bool resolved = net::Resolve(host, port, found, error);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->resolved = resolved;
        lookup->endpoints = std::move(found);
        lookup->errorText = error.empty() && !resolved ? "unknown error" : std::move(error);
        lookup->done.Signal();
    }).detach();
    for (;;) {
        net::PollItem items[2];
        items[0].socket = cancel;
        items[0].wantRead = true;
        items[1].socket = lookup->done.ReadEnd();
        items[1].wantRead = true;
        if (net::Poll(items, -1) < 0 || items[0].readable)
            return false;
        std::lock_guard<std::mutex> lock(lookup->mutex);
        if (lookup->resolved || !lookup->errorText.empty()) {
            endpoints = std::move(lookup->endpoints);
            errorText = std::move(lookup->errorText);
            return lookup->resolved;
        }
    }
}

} // namespace

void TCPClient::Connect(const std::string& host, std::uint16_t port)
{
    std::vector<net::Endpoint> endpoints;
    std::string errorText;
    if (!ResolveCancellable(host, port, GetCancel(), endpoints, errorText)) {
        if (errorText.empty())
            throw std::runtime_error("Failed to connect to " + host);
        throw std::runtime_error("getaddrinfo() for " + host + ":" + std::to_string(port) +
                                 " failed with error: " + errorText);
    }

    for (const net::Endpoint& endpoint : endpoints) {
        m_socket = net::OpenSocket(endpoint);
        if (m_socket == net::InvalidSocket)
            throw std::runtime_error("socket() failed with error: " + net::ErrorText(net::LastError()));
        if (net::ConnectCancellable(m_socket, endpoint, GetCancel())) {
            net::SetSendBufferSize(m_socket, SendBufferSize);
            m_lostPeerBounded = net::DetectLostPeer(m_socket);
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
    auto stream = std::make_shared<TCPStream>(m_socket);
    PrepareStream(*stream);
    return stream;
}

void TCPClient::PrepareStream(NetworkStream& stream) const
{
    if (!m_lostPeerBounded && net::UnacknowledgedBytes(m_socket) >= 0)
        stream.WatchDelivery();
}

void TCPClient::CloseSocket()
{
    net::CloseSocket(m_socket);
    m_socket = net::InvalidSocket;
}

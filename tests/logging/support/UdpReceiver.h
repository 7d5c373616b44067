// A UDP socket on 127.0.0.1 that collects datagrams, for the syslog tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace testing_support {

class UdpReceiver
{
public:
    UdpReceiver();
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::optional<std::string> Receive(std::chrono::milliseconds timeout = std::chrono::seconds(2));

private:
    std::intptr_t m_socket;
    std::uint16_t m_port = 0;
};

// Sends one datagram to 127.0.0.1:port from a fresh socket.
void SendUdp(std::uint16_t port, const std::string& datagram);

} // namespace testing_support

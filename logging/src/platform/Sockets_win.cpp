#include "platform/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace kzb::logging::platform {

Sockets::Sockets()
{
    WSADATA data{};
    m_started = WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

Sockets::~Sockets()
{
    if (m_started)
        WSACleanup();
}

std::string Sockets::HostName() const
{
    char name[1024] = {};
    if (!m_started || gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

bool Sockets::SendDatagram(const std::string& host, const std::string& port, std::string_view datagram) const
{
    if (!m_started)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return false;

    bool sent = false;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const SOCKET socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == INVALID_SOCKET)
            continue;
        const bool connected = ::connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0;
        if (connected) {
            sent = ::send(socket, datagram.data(), static_cast<int>(datagram.size()), 0) == static_cast<int>(datagram.size());
            ::shutdown(socket, SD_BOTH);
        }
        closesocket(socket);
        if (connected)
            break;
    }
    freeaddrinfo(found);
    return sent;
}

} // namespace kzb::logging::platform

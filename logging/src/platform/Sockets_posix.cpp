#include "platform/Sockets.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kzb::logging::platform {

Sockets::Sockets() : m_started(true) {}

Sockets::~Sockets() = default;

std::string Sockets::HostName() const
{
    char name[1024] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

bool Sockets::SendDatagram(const std::string& host, const std::string& port, std::string_view datagram) const
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return false;

    bool sent = false;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int socket = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (socket < 0)
            continue;
        const bool connected = ::connect(socket, address->ai_addr, address->ai_addrlen) == 0;
        if (connected) {
            sent = ::send(socket, datagram.data(), datagram.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(datagram.size());
            ::shutdown(socket, SHUT_RDWR);
        }
        ::close(socket);
        if (connected)
            break;
    }
    ::freeaddrinfo(found);
    return sent;
}

} // namespace kzb::logging::platform

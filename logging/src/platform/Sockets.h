// The sockets layer for the syslog appender: WinSock on Windows, POSIX sockets natively.
#pragma once

#include <string>
#include <string_view>

namespace kzb::logging::platform {

// Holds the sockets layer open (WSAStartup on Windows) for as long as it lives.
class Sockets
{
public:
    Sockets();
    ~Sockets();
    Sockets(const Sockets&) = delete;
    Sockets& operator=(const Sockets&) = delete;

    // The machine's host name; empty when it cannot be read.
    std::string HostName() const;

    // Resolves host and port for UDP in the address families configured here, connects a
    // fresh socket to each address in turn and sends the datagram on the first that
    // connects. The socket is closed again before returning. False when nothing was sent.
    bool SendDatagram(const std::string& host, const std::string& port, std::string_view datagram) const;

private:
    [[maybe_unused]] bool m_started; // read on Windows only
};

} // namespace kzb::logging::platform

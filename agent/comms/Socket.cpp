#include "Socket.h"

#include <stdexcept>

Socket::Socket()
{
    const int result = kzb::net::StartUp();
    if (result != 0)
        throw std::runtime_error("WSAStartup() failed with error: " + kzb::net::ErrorText(result));
}

Socket::~Socket()
{
    kzb::net::CleanUp();
}

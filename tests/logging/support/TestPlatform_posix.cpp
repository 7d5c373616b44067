// The native side of the test support: module files, root folder, UDP.
#include "Library.h"
#include "TestFiles.h"
#include "UdpReceiver.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

std::filesystem::path FixedRoot()
{
    const char* root = std::getenv("KZB_ROOT");
    if (root == nullptr || *root == '\0')
        throw std::runtime_error("KZB_ROOT must name the test's root folder");
    return root;
}

std::filesystem::path ModuleFile(void* module)
{
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(module, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr)
        return {};
    if (map->l_name == nullptr || map->l_name[0] == '\0')
        return std::filesystem::read_symlink("/proc/self/exe");
    return std::filesystem::absolute(map->l_name);
}

void* LibraryExport(const char* name)
{
    void* library = dlopen("libKZBLogging.so", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
        return nullptr;
    void* symbol = dlsym(library, name);
    dlclose(library);
    return symbol;
}

UdpReceiver::UdpReceiver() : m_socket(::socket(AF_INET, SOCK_DGRAM, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket < 0 || ::bind(static_cast<int>(m_socket), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(static_cast<int>(m_socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot open the UDP receiver");
    m_port = ntohs(address.sin_port);
}

UdpReceiver::~UdpReceiver()
{
    ::close(static_cast<int>(m_socket));
}

std::optional<std::string> UdpReceiver::Receive(std::chrono::milliseconds timeout)
{
    pollfd ready{static_cast<int>(m_socket), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) != 1)
        return std::nullopt;
    char buffer[65536];
    const ssize_t length = ::recv(static_cast<int>(m_socket), buffer, sizeof buffer, 0);
    if (length < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(length));
}

void SendUdp(std::uint16_t port, const std::string& datagram)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ::sendto(socket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(socket);
}

} // namespace testing_support

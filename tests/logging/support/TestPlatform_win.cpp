// The Windows side of the test support: module files, root folder, UDP (WinSock).
#include "Library.h"
#include "TestFiles.h"
#include "UdpReceiver.h"

#include <winsock2.h>
#include <windows.h>

#include <stdexcept>
#include <vector>

namespace testing_support {
namespace {

struct WinSock
{
    WinSock()
    {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinSock() { WSACleanup(); }
};

void StartWinSock()
{
    static WinSock started;
}

} // namespace

std::filesystem::path FixedRoot()
{
    return L"C:\\";
}

std::filesystem::path ModuleFile(void* module)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(), static_cast<DWORD>(buffer.size()));
    return length == 0 ? std::filesystem::path() : std::filesystem::path(std::wstring(buffer.data(), length));
}

void* LibraryExport(const char* name)
{
    const HMODULE library = GetModuleHandleW(L"KZBLogging.dll");
    return library != nullptr ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
}

UdpReceiver::UdpReceiver()
{
    StartWinSock();
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    m_socket = static_cast<std::intptr_t>(socket);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (socket == INVALID_SOCKET || ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot open the UDP receiver");
    m_port = ntohs(address.sin_port);
}

UdpReceiver::~UdpReceiver()
{
    closesocket(static_cast<SOCKET>(m_socket));
}

std::optional<std::string> UdpReceiver::Receive(std::chrono::milliseconds timeout)
{
    const SOCKET socket = static_cast<SOCKET>(m_socket);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait{static_cast<long>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1)
        return std::nullopt;
    std::vector<char> buffer(65536);
    const int length = ::recv(socket, buffer.data(), static_cast<int>(buffer.size()), 0);
    if (length < 0)
        return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

void SendUdp(std::uint16_t port, const std::string& datagram)
{
    StartWinSock();
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ::sendto(socket, datagram.data(), static_cast<int>(datagram.size()), 0, reinterpret_cast<sockaddr*>(&address),
        sizeof address);
    closesocket(socket);
}

} // namespace testing_support

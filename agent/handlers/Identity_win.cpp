#include "Identity.h"

#include "IdentitySystem.h"
#include "Log.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <vector>

namespace kzb::identity {

bool SystemMessage(std::uint32_t code, std::string& text)
{
    char* buffer = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                         nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer),
                         0, nullptr);
    if (buffer == nullptr)
        return false;
    text.assign(buffer, length);
    ::LocalFree(buffer);
    return length > 0;
}

// WinSock must have been started by the caller.
std::string SystemHostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, static_cast<int>(sizeof buffer)) != 0) {
        AGENT_LOG(kzb::log::Level::Error, "Unable to get host name. Error: %i", ::WSAGetLastError());
        return {};
    }
    return std::string(buffer, ::strnlen(buffer, sizeof buffer));
}

} // namespace kzb::identity

namespace kzb::identity {

bool SystemUserName(std::string& name, unsigned long& error)
{
    char buffer[257] = {};
    DWORD size = sizeof buffer;
    if (!::GetUserNameA(buffer, &size)) {
        error = ::GetLastError();
        return false;
    }
    name.assign(buffer, ::strnlen(buffer, sizeof buffer));
    return true;
}

} // namespace kzb::identity

std::string GetEnvironmentVariableValue(const std::string& name)
{
    // The size with the terminator; a variable set to "" has size 1.
    DWORD size = ::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (size == 0)
        throw kzb::windows::error(::GetLastError());
    for (;;) {
        std::vector<char> buffer(size);
        const DWORD length = ::GetEnvironmentVariableA(name.c_str(), buffer.data(), size);
        if (length < size)
            return std::string(buffer.data(), length);
        // The value grew since the size was asked for: length is the size it needs now.
        size = length;
    }
}

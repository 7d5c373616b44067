#include "Identity.h"

#include "IdentitySystem.h"
#include "Log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {
// ERROR_ENVVAR_NOT_FOUND, what Windows reports for a variable that is not set.
constexpr std::uint32_t EnvironmentVariableNotFound = 203;
} // namespace

namespace kzb::identity {

// There is no FormatMessage here: the codes the agent can raise (the registry's and the
// environment's) have the texts Windows gives them (US English, line end included); every
// other code has none. Wine's own texts differ, e.g. "Environment variable not found." for 203.
bool SystemMessage(std::uint32_t code, std::string& text)
{
    static const struct
    {
        std::uint32_t code;
        const char* text;
    } messages[] = {
        {2, "The system cannot find the file specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {EnvironmentVariableNotFound, "The system could not find the environment option that was entered.\r\n"},
        {234, "More data is available.\r\n"},
    };
    for (const auto& message : messages) {
        if (message.code == code) {
            text = message.text;
            return true;
        }
    }
    return false;
}

std::string SystemHostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer) != 0) {
        AGENT_LOG(kzb::log::Level::Error, "Unable to get host name. Error: %i", errno);
        return {};
    }
    return std::string(buffer, ::strnlen(buffer, sizeof buffer));
}

} // namespace kzb::identity

namespace kzb::identity {

// The login name of the effective user; the session's login name when the user database
// has no entry for it.
bool SystemUserName(std::string& name, unsigned long& errorCode)
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    while ((error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (error == 0 && found != nullptr && found->pw_name != nullptr && found->pw_name[0] != '\0') {
        name = found->pw_name;
        return true;
    }

    char login[257] = {};
    error = ::getlogin_r(login, sizeof login);
    if (error == 0 && login[0] != '\0') {
        name.assign(login, ::strnlen(login, sizeof login));
        return true;
    }
    errorCode = static_cast<unsigned long>(error != 0 ? error : ENOENT);
    return false;
}

} // namespace kzb::identity

std::string GetEnvironmentVariableValue(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        throw kzb::windows::error(EnvironmentVariableNotFound);
    return value;
}

// The agent's page socket: in a folder of the user's own that nobody else may enter, so that
// another user of the machine can neither reach the agent nor stand in for it.
#include "PageSource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kzb::inspection {

std::string PageChannelName(std::string& error)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime && *runtime ? std::string(runtime) + "/kzbdka"
                                                   : "/tmp/kzbdka-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make the folder '" + folder + "': " + std::strerror(errno);
        return {};
    }
    struct stat status{};
    if (::lstat(folder.c_str(), &status) != 0) {
        error = "cannot look at the folder '" + folder + "': " + std::strerror(errno);
        return {};
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
        error = "the folder '" + folder + "' is not a folder of this user's alone";
        return {};
    }
    return folder + "/pages.sock";
}

} // namespace kzb::inspection

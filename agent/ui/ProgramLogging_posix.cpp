#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kzb::platform {

// The Documents folder of the user's home (created with the program's folder if missing).
std::string DocumentsFolder()
{
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0')
        return {};
    return std::string(home) + "/Documents";
}

int ProcessId()
{
    return static_cast<int>(getpid());
}

} // namespace kzb::platform

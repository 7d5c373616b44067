#include <windows.h>
#include <shlobj.h>

#include <string>

namespace kzb::platform {

std::string DocumentsFolder()
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, path)))
        return {};
    return path;
}

int ProcessId()
{
    return static_cast<int>(GetCurrentProcessId());
}

} // namespace kzb::platform

#include "VersionInfoStore.h"

#include "Log.h"

#include <windows.h>

#include <vector>

VersionInfoStore::VersionInfoStore()
{
    char fileName[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, fileName, MAX_PATH);
    if (fileName[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "No filename specified\n");
        return;
    }
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(fileName, &handle);
    if (size == 0) {
        AGENT_LOG(kzb::log::Error, "File version details couldn't be retrieved for the file %s.\n", fileName);
        return;
    }
    std::vector<char> info(size);
    if (!::GetFileVersionInfoA(fileName, 0, size, info.data())) {
        AGENT_LOG(kzb::log::Error, "File version details couldn't be retrieved for the file %s. (%lu)\n", fileName,
                ::GetLastError());
        return;
    }
    char* version = nullptr;
    UINT length = 0;
    if (::VerQueryValueA(info.data(), "\\StringFileInfo\\080904B0\\ProductVersion", reinterpret_cast<void**>(&version),
                         &length) &&
        version != nullptr && length >= 1 && length <= VersionSize)
        Store(std::string(version, ::strnlen(version, length)));
}

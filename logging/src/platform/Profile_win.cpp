// INI files on Windows: the private-profile functions themselves.
#include "platform/Profile.h"

#include <windows.h>

#include <vector>

namespace kzb::logging::platform {

std::string ReadIniString(const char* section, const char* key, const char* defaultValue,
    std::size_t bufferSize, const std::string& file)
{
    if (bufferSize == 0)
        return {};
    std::vector<char> buffer(bufferSize, '\0');
    const DWORD length = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(),
        static_cast<DWORD>(buffer.size()), file.c_str());
    return std::string(buffer.data(), length);
}

unsigned ReadIniInt(const char* section, const char* key, int defaultValue, const std::string& file)
{
    return GetPrivateProfileIntA(section, key, defaultValue, file.c_str());
}

bool WriteIniString(const char* section, const char* key, const char* value, const std::string& file)
{
    return WritePrivateProfileStringA(section, key, value, file.c_str()) != FALSE;
}

} // namespace kzb::logging::platform

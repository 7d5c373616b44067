// INI ("private profile") files: the Windows profile functions on Windows, IniFile natively.
// Paths are narrow strings in the ANSI code page, as the profile functions take them.
#pragma once

#include <cstddef>
#include <string>

namespace kzb::logging::platform {

// The value, or defaultValue when the section or key is missing; at most bufferSize - 1
// characters, surrounding quotes removed.
std::string ReadIniString(const char* section, const char* key, const char* defaultValue,
    std::size_t bufferSize, const std::string& file);
// The value read as an integer (decimal, or 0x/0o/0b), defaultValue when missing or empty.
unsigned ReadIniInt(const char* section, const char* key, int defaultValue, const std::string& file);
// Creates the file, the section and the key as needed.
bool WriteIniString(const char* section, const char* key, const char* value, const std::string& file);

} // namespace kzb::logging::platform

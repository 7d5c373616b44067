#pragma once

// The settings store behind CRegistry: the Windows registry (RegistryStore_win.cpp), natively
// a JSON file with the same hives, keys, value names and types (RegistryStore_posix.cpp).
// Value data is the registry's byte image: REG_SZ with its NUL, REG_DWORD as 4 bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace kzb::registry {

enum class Root
{
    CurrentUser,
    LocalMachine,
};

enum class Access
{
    Read,
    Write,
    All,
};

enum ValueType : std::uint32_t
{
    TypeNone = 0,
    TypeString = 1,       // REG_SZ
    TypeExpandString = 2, // REG_EXPAND_SZ
    TypeBinary = 3,       // REG_BINARY
    TypeNumber = 4,       // REG_DWORD
    TypeMultiString = 7,  // REG_MULTI_SZ
};

// System error codes as the registry gives them.
enum : long
{
    Success = 0,
    FileNotFound = 2,
    AccessDenied = 5,
    InvalidHandle = 6,
    MoreData = 234,
};

using KeyHandle = std::uintptr_t;

long OpenKey(Root root, const std::string& path, Access access, KeyHandle& key);
// Creates the key when it is missing, then opens it.
long CreateKey(Root root, const std::string& path, Access access, KeyHandle& key);
void CloseKey(KeyHandle key);
long QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, std::vector<std::uint8_t>& data);
long SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data);
long DeleteValue(KeyHandle key, const std::string& name);

} // namespace kzb::registry

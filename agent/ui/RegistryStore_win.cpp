#include "RegistryStore.h"

#include <windows.h>

namespace kzb::registry {

namespace {

HKEY RootKey(Root root)
{
    return root == Root::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

REGSAM Rights(Access access)
{
    switch (access) {
    case Access::Read: return KEY_READ;
    case Access::Write: return KEY_WRITE;
    default: return KEY_ALL_ACCESS;
    }
}

HKEY Key(KeyHandle key)
{
    return reinterpret_cast<HKEY>(key);
}

} // namespace

long OpenKey(Root root, const std::string& path, Access access, KeyHandle& key)
{
    HKEY opened = nullptr;
    const LONG result = ::RegOpenKeyExA(RootKey(root), path.c_str(), 0, Rights(access), &opened);
    if (result == ERROR_SUCCESS)
        key = reinterpret_cast<KeyHandle>(opened);
    return result;
}

long CreateKey(Root root, const std::string& path, Access access, KeyHandle& key)
{
    HKEY opened = nullptr;
    const LONG result = ::RegCreateKeyExA(RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          Rights(access), nullptr, &opened, nullptr);
    if (result == ERROR_SUCCESS)
        key = reinterpret_cast<KeyHandle>(opened);
    return result;
}

void CloseKey(KeyHandle key)
{
    ::RegCloseKey(Key(key));
}

long QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, std::vector<std::uint8_t>& data)
{
    DWORD valueType = REG_NONE;
    DWORD size = 0;
    LONG result = ::RegQueryValueExA(Key(key), name.c_str(), nullptr, &valueType, nullptr, &size);
    if (result != ERROR_SUCCESS)
        return result;
    data.resize(size);
    result = ::RegQueryValueExA(Key(key), name.c_str(), nullptr, &valueType, data.data(), &size);
    if (result != ERROR_SUCCESS)
        return result;
    data.resize(size);
    type = valueType;
    return ERROR_SUCCESS;
}

long SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    return ::RegSetValueExA(Key(key), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
}

long DeleteValue(KeyHandle key, const std::string& name)
{
    return ::RegDeleteValueA(Key(key), name.c_str());
}

} // namespace kzb::registry

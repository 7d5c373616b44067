#pragma once

#include "RegistryStore.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The program's settings key, under the current user or the local machine.
inline constexpr const char* ProgramRegistryKey = "SOFTWARE\\Corvanta\\KZBDKA";

// One open registry key at a time. Each caller makes its own object; one thread uses it.
class CRegistry
{
public:
    using Root = kzb::registry::Root;

    CRegistry() = default;
    virtual ~CRegistry();
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;

    // A key already open with the same root and path (letter case aside) and enough access
    // stays open; otherwise the open key is closed and path opened.
    bool OpenForReading(Root root, const std::string& path);
    bool OpenForAllAccess(Root root, const std::string& path);
    // Creates or opens the program key under the current user for writing.
    bool OpenProgramKeyForWriting();
    // Creates or opens any key with full access (installers and tests).
    bool CreateKey(Root root, const std::string& path);
    void Close();

    // A REG_DWORD of the program key under root, or defaultValue.
    std::uint32_t ReadNumber(Root root, const std::string& valueName, std::uint32_t defaultValue);
    // A REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ value of the program key under
    // root that fits a buffer of bufferSize characters, terminator included.
    bool ReadText(Root root, const std::string& valueName, std::string& text, std::size_t bufferSize);

    // Writing values of the open key.
    bool SetText(const std::string& valueName, const std::string& text);
    bool SetNumber(const std::string& valueName, std::uint32_t value);
    bool DeleteValue(const std::string& valueName);

    long GetLastError() const { return m_lastError; }

private:
    bool Open(Root root, const std::string& path, kzb::registry::Access access, bool create);

    Root m_root = Root::CurrentUser;
    kzb::registry::KeyHandle m_key = 0;
    kzb::registry::Access m_access = kzb::registry::Access::Read;
    std::string m_path;
    long m_lastError = 0;
};

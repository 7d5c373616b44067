#include "Registry.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace registry = kzb::registry;

namespace {

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool Covers(registry::Access held, registry::Access wanted)
{
    return held == wanted || held == registry::Access::All;
}

} // namespace

CRegistry::~CRegistry()
{
    Close();
}

bool CRegistry::Open(Root root, const std::string& path, registry::Access access, bool create)
{
    if (m_key != 0 && m_root == root && EqualNoCase(m_path, path) && Covers(m_access, access)) {
        m_lastError = registry::Success;
        return true;
    }
    Close();
    registry::KeyHandle key = 0;
    m_lastError = create ? registry::CreateKey(root, path, access, key) : registry::OpenKey(root, path, access, key);
    if (m_lastError != registry::Success)
        return false;
    m_key = key;
    m_root = root;
    m_path = path.substr(0, 255);
    m_access = access;
    return true;
}

bool CRegistry::OpenForReading(Root root, const std::string& path)
{
    return Open(root, path, registry::Access::Read, false);
}

bool CRegistry::OpenForAllAccess(Root root, const std::string& path)
{
    return Open(root, path, registry::Access::All, false);
}

bool CRegistry::OpenProgramKeyForWriting()
{
    return Open(Root::CurrentUser, ProgramRegistryKey, registry::Access::Write, true);
}

bool CRegistry::CreateKey(Root root, const std::string& path)
{
    return Open(root, path, registry::Access::All, true);
}

void CRegistry::Close()
{
    if (m_key != 0)
        registry::CloseKey(m_key);
    m_key = 0;
    m_path.clear();
}

std::uint32_t CRegistry::ReadNumber(Root root, const std::string& valueName, std::uint32_t defaultValue)
{
    std::uint32_t result = defaultValue;
    if (OpenForReading(root, ProgramRegistryKey)) {
        std::uint32_t type = registry::TypeNone;
        std::vector<std::uint8_t> data;
        m_lastError = registry::QueryValue(m_key, valueName, type, data);
        if (m_lastError == registry::Success && type == registry::TypeNumber && data.size() == 4)
            result = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                     static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    }
    Close();
    return result;
}

bool CRegistry::ReadText(Root root, const std::string& valueName, std::string& text, std::size_t bufferSize)
{
    if (!OpenForReading(root, ProgramRegistryKey))
        return false;
    std::uint32_t type = registry::TypeNone;
    std::vector<std::uint8_t> data;
    m_lastError = registry::QueryValue(m_key, valueName, type, data);
    if (m_lastError != registry::Success)
        return false;
    if (data.size() > bufferSize) {
        m_lastError = registry::MoreData;
        return false;
    }
    if (type != registry::TypeString && type != registry::TypeExpandString && type != registry::TypeMultiString)
        return false;
    // A stored text may lack its terminator; one must still fit.
    const auto end = std::find(data.begin(), data.end(), 0);
    if (end == data.end() && data.size() + 1 > bufferSize) {
        m_lastError = registry::MoreData;
        return false;
    }
    text.assign(data.begin(), end);
    return true;
}

bool CRegistry::SetText(const std::string& valueName, const std::string& text)
{
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    m_lastError = m_key == 0 ? registry::InvalidHandle : registry::SetValue(m_key, valueName, registry::TypeString, data);
    return m_lastError == registry::Success;
}

bool CRegistry::SetNumber(const std::string& valueName, std::uint32_t value)
{
    const std::vector<std::uint8_t> data{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                         static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    m_lastError = m_key == 0 ? registry::InvalidHandle : registry::SetValue(m_key, valueName, registry::TypeNumber, data);
    return m_lastError == registry::Success;
}

bool CRegistry::DeleteValue(const std::string& valueName)
{
    m_lastError = m_key == 0 ? registry::InvalidHandle : registry::DeleteValue(m_key, valueName);
    return m_lastError == registry::Success;
}

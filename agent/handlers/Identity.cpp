#include "Identity.h"

#include "IdentitySystem.h"
#include "Log.h"
#include "SystemPath.h"
#include "ui/RegistryStore.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <istream>
#include <vector>

namespace {

namespace registry = kzb::registry;
using kzb::log::Level;

constexpr const char* CitrixKey = "SOFTWARE\\Citrix\\ICA Client";
constexpr const char* CitrixValue = "ClientName";
// The registry value is read into a buffer of this many characters, terminator included.
constexpr std::size_t RegistryNameBuffer = 256;
// Characters of WFCName.ini's first line that count.
constexpr std::size_t IniNameLength = 255;
constexpr std::size_t ClientNameLength = 256;

// On Windows WFCName.ini sits in the root of the system drive. Natively "/" joins the two, so
// that SYSTEMDRIVE can name any folder (the tests use a temporary one).
#ifdef _WIN32
constexpr const char* IniFileName = "\\WFCName.ini";
#else
constexpr const char* IniFileName = "/WFCName.ini";
#endif

std::string ErrorText(std::uint32_t code)
{
    std::string text;
    if (!kzb::identity::SystemMessage(code, text))
        return "<error message not found>";
    if (text.size() > 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
        text.resize(text.size() - 2);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " (0x%X)", static_cast<unsigned>(code));
    text += suffix;
    return text;
}

// ClientName of the Citrix key under root, by the rules CRegistry::ReadText applies to the
// program key: REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ (its first text) whose
// data, terminator included, fits the buffer.
bool ReadClientName(registry::Root root, std::string& name)
{
    registry::KeyHandle key = 0;
    if (registry::OpenKey(root, CitrixKey, registry::Access::Read, key) != registry::Success)
        return false;
    std::uint32_t type = registry::TypeNone;
    std::vector<std::uint8_t> data;
    const long result = registry::QueryValue(key, CitrixValue, type, data);
    registry::CloseKey(key);
    if (result != registry::Success)
        return false;
    if (type != registry::TypeString && type != registry::TypeExpandString && type != registry::TypeMultiString)
        return false;
    // A stored text may lack its terminator; one must still fit.
    const auto end = std::find(data.begin(), data.end(), 0);
    const std::size_t needed = end == data.end() ? data.size() + 1 : data.size();
    if (needed > RegistryNameBuffer)
        return false;
    name.assign(data.begin(), end);
    return true;
}

// The first line without its line end, at most IniNameLength characters, blanks kept. The
// Windows text mode has turned "\r\n" into "\n"; natively the "\r" is dropped here. A NUL ends
// the name, as it would end the Windows buffer.
std::string ReadFirstLine(std::istream& in)
{
    std::string line;
    bool ended = false;
    char c = 0;
    // One character beyond the limit, so that a "\r" right after it is not taken for part of it.
    while (line.size() <= IniNameLength && in.get(c)) {
        if (c == '\n') {
            ended = true;
            break;
        }
        line += c;
    }
#ifndef _WIN32
    if (ended && !line.empty() && line.back() == '\r')
        line.pop_back();
#else
    (void)ended;
#endif
    if (line.size() > IniNameLength)
        line.resize(IniNameLength);
    line.erase(std::find(line.begin(), line.end(), '\0'), line.end());
    return line;
}

std::string NameFromRegistry()
{
    try {
        std::string name;
        if (!ReadClientName(registry::Root::CurrentUser, name) && !ReadClientName(registry::Root::LocalMachine, name))
            throw std::runtime_error("Failed to get value from 'HKCU\\SOFTWARE\\Citrix\\ICA Client\\ClientName' and "
                                     "'HKLM\\SOFTWARE\\Citrix\\ICA Client\\ClientName'");
        AGENT_LOG(Level::Info, "Terminal name: %s extracted from registry", name.c_str());
        return name;
    } catch (const std::exception& e) {
        AGENT_LOG(Level::Warning, "Cannot get Citrix terminal name from registry: %s", e.what());
        return {};
    }
}

std::string NameFromIniFile()
{
    try {
        const std::string drive = GetEnvironmentVariableValue("SYSTEMDRIVE");
        if (drive.empty())
            throw std::runtime_error("SYSTEMDRIVE environment variable is empty");
        const std::string path = drive + IniFileName;
        AGENT_LOG(Level::Info, "INI file path: %s", path.c_str());
        const std::filesystem::path filePath = PathFromSystemText(path);
        std::error_code error;
        if (!std::filesystem::exists(filePath, error))
            throw std::runtime_error("'" + path + "' does not exist");
        std::ifstream file(filePath);
        if (!file)
            throw std::runtime_error("Failed to open '" + path + "'");
        const std::string name = ReadFirstLine(file);
        AGENT_LOG(Level::Info, "Terminal name: %s extracted from INI file", name.c_str());
        return name;
    } catch (const std::exception& e) {
        AGENT_LOG(Level::Warning, "Cannot get Citrix terminal name from INI file: %s", e.what());
        return {};
    }
}

std::string NameFromEnvironment()
{
    try {
        const std::string name = GetEnvironmentVariableValue("CLIENTNAME");
        if (name.empty())
            throw std::runtime_error("CLIENTNAME environment variable is empty");
        if (name.size() > ClientNameLength)
            throw std::invalid_argument("CLIENTNAME environment variable is too long");
        AGENT_LOG(Level::Info, "Terminal name: %s extracted from CLIENTNAME environment variable", name.c_str());
        return name;
    } catch (const std::exception& e) {
        AGENT_LOG(Level::Warning, "Cannot get Citrix terminal name from environment variable: %s", e.what());
        return {};
    }
}

} // namespace

namespace kzb::windows {

error::error(std::uint32_t code) : std::runtime_error(ErrorText(code)), m_code(code)
{
}

} // namespace kzb::windows

std::string DetermineHostName(bool terminalNaming)
{
    if (terminalNaming) {
        std::string name = GetCitrixTerminalName();
        if (!name.empty())
            return name;
    }
    return kzb::identity::SystemHostName();
}

std::string DetermineUserName()
{
    std::string name;
    unsigned long error = 0;
    if (!kzb::identity::SystemUserName(name, error))
        AGENT_LOG(Level::Error, "Unable to get user name. Error: %lu", error);
    return name;
}

std::string QueryUserName()
{
    std::string name;
    unsigned long error = 0;
    kzb::identity::SystemUserName(name, error);
    return name;
}

std::string GetCitrixTerminalName()
{
    for (auto source : {NameFromRegistry, NameFromIniFile, NameFromEnvironment}) {
        std::string name = source();
        if (!name.empty())
            return name;
    }
    AGENT_LOG(Level::Warning, "Giving up attempting to determine Citrix terminal name");
    return {};
}

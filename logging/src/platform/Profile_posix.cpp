// INI files natively: the private-profile rules of IniFile over plain files.
#include "platform/Profile.h"

#include "IniFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace kzb::logging::platform {
namespace {

std::optional<std::string> ReadFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (content.rfind("\xEF\xBB\xBF", 0) == 0)
        content.erase(0, 3);
    return content;
}

std::optional<std::string> Lookup(const char* section, const char* key, const std::string& file)
{
    if (section == nullptr || key == nullptr || *key == '\0')
        return std::nullopt;
    const auto content = ReadFile(file);
    return content ? ini::Find(*content, section, key) : std::nullopt;
}

} // namespace

std::string ReadIniString(const char* section, const char* key, const char* defaultValue,
    std::size_t bufferSize, const std::string& file)
{
    return ini::ProfileString(Lookup(section, key, file), defaultValue != nullptr ? defaultValue : "", bufferSize);
}

unsigned ReadIniInt(const char* section, const char* key, int defaultValue, const std::string& file)
{
    const std::string text = ReadIniString(section, key, "", 30, file);
    return text.empty() ? static_cast<unsigned>(defaultValue) : ini::ProfileInt(text);
}

bool WriteIniString(const char* section, const char* key, const char* value, const std::string& file)
{
    if (section == nullptr || key == nullptr || value == nullptr || file.empty())
        return false;
    namespace fs = std::filesystem;
    const fs::path path(file);
    std::error_code error;
    if (path.has_parent_path())
        fs::create_directories(path.parent_path(), error);

    const std::string updated = ini::Set(ReadFile(file).value_or(std::string()), section, key, value);

    // A whole new file renamed over the old one: a reader never sees half a file.
    fs::path temporary = path;
    temporary += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << updated;
        if (!out.flush()) {
            out.close();
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

} // namespace kzb::logging::platform

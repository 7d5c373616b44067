#include "Level.h"

#include <array>
#include <cctype>
#include <string_view>

namespace kzb::logging {
namespace {

constexpr std::array<const char*, 6> kNames{"ERROR", "PRINT", "WARNING", "MESSAGE", "INFO", "TRACE"};
constexpr std::int32_t kDefault = 2;

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

const char* LevelName(std::int32_t level)
{
    return level >= 0 && level < static_cast<std::int32_t>(kNames.size()) ? kNames[level] : kNames[kDefault];
}

std::int32_t LevelFromName(const char* name)
{
    if (name == nullptr)
        return kDefault;
    // TRACE is deliberately not parsed: a stored TRACE comes back as the default.
    struct Entry { std::string_view name; std::int32_t level; };
    static constexpr Entry kParsed[] = {
        {"ERROR", 0}, {"PRINT", 1}, {"WARNING", 2}, {"MESSAGE", 3}, {"MSG", 3}, {"INFO", 4},
    };
    for (const Entry& entry : kParsed) {
        if (SameIgnoringCase(name, entry.name))
            return entry.level;
    }
    return kDefault;
}

} // namespace kzb::logging

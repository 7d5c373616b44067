// Level names and the level filter.
#pragma once

#include <cstdint>

namespace kzb::logging {

// "WARNING" for every value outside 0 to 5.
const char* LevelName(std::int32_t level);
// Case-insensitive; "MSG" means MESSAGE; every other text, TRACE and null included, is 2.
std::int32_t LevelFromName(const char* name);

// Whether a logger at loggerLevel lets a message of messageLevel through.
constexpr bool PassesFilter(std::int32_t messageLevel, std::int32_t loggerLevel)
{
    return messageLevel <= loggerLevel || messageLevel == 5;
}

} // namespace kzb::logging

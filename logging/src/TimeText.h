// The time strings of a message: ISO 8601 extended with microseconds, and their reading.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kzb::logging {

struct TimeFields
{
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int microsecond = 0;
};

struct TimeStamps
{
    std::string local; // YYYY-MM-DDTHH:MM:SS.ffffff
    std::string utc;   // the same instant in UTC, then "Z"
};

// One reading of the clock, converted to local time and to UTC.
TimeStamps StampNow();

// "YYYY-MM-DDTHH:MM:SS" with an optional fraction; the fraction is omitted when zero.
std::string IsoText(const TimeFields& time);
// Reads what IsoText writes (a trailing "Z" is allowed); nothing when it is not that form.
std::optional<TimeFields> ParseIsoTime(std::string_view text);

// "Jan" to "Dec"; "???" outside 1 to 12.
const char* MonthAbbreviation(int month);

} // namespace kzb::logging

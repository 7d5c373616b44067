// The time strings of a message: ISO 8601 extended with microseconds, and their reading.
#pragma once

#include <array>
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

// A time string kept inside its message: no allocation for the two time stamps that
// every message carries. Room for "YYYY-MM-DDTHH:MM:SS.ffffffZ" and the terminator.
using TimeText = std::array<char, 32>;

struct TimeStamps
{
    TimeText local; // YYYY-MM-DDTHH:MM:SS.ffffff
    TimeText utc;   // the same instant in UTC, then "Z"
};

// One reading of the clock, converted to local time and to UTC.
TimeStamps StampNow();

// "YYYY-MM-DDTHH:MM:SS" with an optional fraction (omitted when zero), then suffix.
void WriteIso(TimeText& out, const TimeFields& time, const char* suffix = "");
// Reads what WriteIso writes (a trailing "Z" is allowed); nothing when it is not that form.
std::optional<TimeFields> ParseIsoTime(std::string_view text);

// "Jan" to "Dec"; "???" outside 1 to 12.
const char* MonthAbbreviation(int month);

} // namespace kzb::logging

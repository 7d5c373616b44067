#include "TimeText.h"

#include "platform/System.h"

#include <chrono>
#include <ctime>

namespace kzb::logging {
namespace {

TimeFields FromTm(const std::tm& tm, int microsecond)
{
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, microsecond};
}

// Converting to calendar time takes a global lock in the C library; messages of one
// second share the conversion.
struct SecondCache
{
    std::time_t second = -1;
    std::tm local{};
    std::tm utc{};
};

bool ReadNumber(std::string_view text, std::size_t& pos, std::size_t digits, int& value)
{
    if (pos + digits > text.size())
        return false;
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    pos += digits;
    return true;
}

bool Expect(std::string_view text, std::size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

} // namespace

TimeStamps StampNow()
{
    using namespace std::chrono;
    const auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const std::time_t second = static_cast<std::time_t>(now / 1'000'000);
    const int microsecond = static_cast<int>(now % 1'000'000);

    thread_local SecondCache cache;
    if (cache.second != second) {
        std::tm local{};
        std::tm utc{};
        if (!platform::ToLocalTime(second, local) || !platform::ToUtcTime(second, utc))
            return TimeStamps{{'\0'}, {'\0'}};
        cache = {second, local, utc};
    }
    TimeStamps stamps;
    WriteIso(stamps.local, FromTm(cache.local, microsecond));
    WriteIso(stamps.utc, FromTm(cache.utc, microsecond), "Z");
    return stamps;
}

void WriteIso(TimeText& out, const TimeFields& time, const char* suffix)
{
    char* p = out.data();
    auto put = [&p](int value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            p[i] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
        p += width;
    };
    put(time.year, 4);
    *p++ = '-';
    put(time.month, 2);
    *p++ = '-';
    put(time.day, 2);
    *p++ = 'T';
    put(time.hour, 2);
    *p++ = ':';
    put(time.minute, 2);
    *p++ = ':';
    put(time.second, 2);
    if (time.microsecond != 0) {
        *p++ = '.';
        put(time.microsecond, 6);
    }
    while (*suffix != '\0' && p < out.data() + out.size() - 1)
        *p++ = *suffix++;
    *p = '\0';
}

std::optional<TimeFields> ParseIsoTime(std::string_view text)
{
    TimeFields time;
    std::size_t pos = 0;
    if (!ReadNumber(text, pos, 4, time.year) || !Expect(text, pos, '-') || !ReadNumber(text, pos, 2, time.month)
        || !Expect(text, pos, '-') || !ReadNumber(text, pos, 2, time.day) || !Expect(text, pos, 'T')
        || !ReadNumber(text, pos, 2, time.hour) || !Expect(text, pos, ':') || !ReadNumber(text, pos, 2, time.minute)
        || !Expect(text, pos, ':') || !ReadNumber(text, pos, 2, time.second))
        return std::nullopt;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        int scale = 100000;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (digits++ < 6) {
                time.microsecond += (text[pos] - '0') * scale;
                scale /= 10;
            }
            ++pos;
        }
        if (digits == 0)
            return std::nullopt;
    }
    if (pos < text.size() && text[pos] == 'Z')
        ++pos;
    if (pos != text.size() || time.month < 1 || time.month > 12)
        return std::nullopt;
    return time;
}

const char* MonthAbbreviation(int month)
{
    static constexpr const char* kMonths[] = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return month >= 1 && month <= 12 ? kMonths[month - 1] : "???";
}

} // namespace kzb::logging

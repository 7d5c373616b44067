// Number formatting for the hot paths of the writer: no locale, no format parsing.
#pragma once

#include <cstdint>
#include <string>

namespace kzb::logging {

// Decimal, zero-filled to at least width digits.
inline void AppendZeroPadded(std::string& out, std::uint64_t value, int width)
{
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = count; i < width; ++i)
        out += '0';
    while (count > 0)
        out += digits[--count];
}

inline void AppendDecimal(std::string& out, std::int64_t value)
{
    if (value < 0) {
        out += '-';
        AppendZeroPadded(out, static_cast<std::uint64_t>(-(value + 1)) + 1, 1);
    } else {
        AppendZeroPadded(out, static_cast<std::uint64_t>(value), 1);
    }
}

// Upper-case hexadecimal, zero-filled to at least width digits.
inline void AppendHex(std::string& out, std::uint32_t value, int width)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    char digits[8];
    int count = 0;
    do {
        digits[count++] = kHex[value & 0xF];
        value >>= 4;
    } while (value != 0);
    for (int i = count; i < width; ++i)
        out += '0';
    while (count > 0)
        out += digits[--count];
}

} // namespace kzb::logging

#pragma once

// Helpers for the pipe-delimited text form of the configuration objects.

#include <initializer_list>
#include <string>

// Characters consumed by a scan whose format ends in "|%n": non-zero only when every value
// was assigned and the closing '|' was reached.
inline unsigned IniScanLength(int assigned, int expected, int consumed)
{
    return assigned == expected && consumed > 0 ? static_cast<unsigned>(consumed) : 0;
}

// The values, each followed by '|'.
inline std::string IniValues(std::initializer_list<std::string> values)
{
    std::string text;
    for (const std::string& value : values) {
        text += value;
        text += '|';
    }
    return text;
}

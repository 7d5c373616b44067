#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <string>

// Lowers A-Z only, whatever the locale.
std::string ToLowerAscii(std::string text);

// A text lowered once (ToLowerAscii), with the set of the character pairs in it. A text
// can only hold another if its set holds all of the other's pairs, so most searches for a
// text that is not there end on the two sets alone, without looking at the characters.
class LoweredText
{
public:
    LoweredText() = default;
    explicit LoweredText(std::string text);

    const std::string& Text() const { return m_text; }
    // False when other is certainly not within this text; true when it may be.
    bool MayHold(const LoweredText& other) const;

private:
    std::string m_text;
    std::array<std::uint64_t, 4> m_pairs{};
};

// printf-style formatting into a string of the exact length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list values);

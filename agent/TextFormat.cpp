#include "TextFormat.h"

#include <cstdio>

std::string FormatTextV(const char* format, va_list values)
{
    va_list again;
    va_copy(again, values);
    const int length = std::vsnprintf(nullptr, 0, format, values);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string FormatText(const char* format, ...)
{
    va_list values;
    va_start(values, format);
    std::string text = FormatTextV(format, values);
    va_end(values);
    return text;
}

std::string ToLowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

LoweredText::LoweredText(std::string text) : m_text(ToLowerAscii(std::move(text)))
{
    for (std::size_t i = 1; i < m_text.size(); ++i) {
        const auto first = static_cast<unsigned char>(m_text[i - 1]);
        const auto second = static_cast<unsigned char>(m_text[i]);
        const unsigned bit = ((first * 31u) ^ second) & 255u;
        m_pairs[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
}

bool LoweredText::MayHold(const LoweredText& other) const
{
    for (std::size_t i = 0; i < m_pairs.size(); ++i) {
        if ((other.m_pairs[i] & ~m_pairs[i]) != 0)
            return false;
    }
    return true;
}

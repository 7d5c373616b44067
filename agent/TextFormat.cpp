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

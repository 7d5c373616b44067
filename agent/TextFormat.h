#pragma once

#include <cstdarg>
#include <string>

// printf-style formatting into a string of the exact length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list values);

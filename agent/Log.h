#pragma once

// The agent's one way to log: KZB_LOG(level, printf-format, values...).
// One statement per line logged; a trailing line feed in the format is dropped.

#include <functional>
#include <string>

namespace kzb::log {
enum Level : int
{
    Error = 0,
    Print = 1,
    Warning = 2,
    Message = 3,
    Info = 4,
    Trace = 5,
};

// Receives every line in place of the default output (tests).
using Observer = std::function<void(int level, const std::string& text)>;
void SetObserver(Observer observer);

} // namespace kzb::log

void KzbLog(int level, const char* file, int line, const char* format, ...) __attribute__((format(printf, 4, 5)));

#define KZB_LOG(level, ...) KzbLog((level), __FILE__, __LINE__, __VA_ARGS__)

#pragma once

// The agent's one way to log: AGENT_LOG(level, printf-format, values...).
// One statement per line logged; a trailing line feed in the format is dropped. Lines go to
// the program's logger in KZBLogging.

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
} // namespace kzb::log

// MinGW formats in the GNU way (C99 %zu, %lld), as the logging library does.
#if defined(__MINGW32__)
#  define KZB_FORMAT_LIKE_PRINTF(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#  define KZB_FORMAT_LIKE_PRINTF(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif

void KzbLog(int level, const char* file, int line, const char* format, ...) KZB_FORMAT_LIKE_PRINTF(4, 5);

// Tests may take every formatted line in place of the logger; null restores the logger.
using KzbLogSink = void (*)(int level, const char* file, int line, const char* text);
void KzbSetLogSink(KzbLogSink sink);
// A sink that takes nothing: its lines are not even formatted (fuzzing, where a line per
// input would cost more than the input).
void KzbDiscardLog(int level, const char* file, int line, const char* text);

#define AGENT_LOG(level, ...) KzbLog((level), __FILE__, __LINE__, __VA_ARGS__)

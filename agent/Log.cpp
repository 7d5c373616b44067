#include "Log.h"

#include <cstdarg>
#include <cstdio>

// Until the logging library is linked in, lines go to stderr.
void KzbLog(int level, const char* file, int line, const char* format, ...)
{
    std::fprintf(stderr, "[%d] %s:%d ", level, file, line);
    va_list values;
    va_start(values, format);
    std::vfprintf(stderr, format, values);
    va_end(values);
    std::fputc('\n', stderr);
}

#include "Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
std::atomic<KzbLogSink> g_sink{nullptr};
}

void KzbSetLogSink(KzbLogSink sink)
{
    g_sink.store(sink);
}

// Until the logging library is linked in, lines go to stderr.
void KzbLog(int level, const char* file, int line, const char* format, ...)
{
    va_list values;
    va_start(values, format);
    va_list again;
    va_copy(again, values);
    const int length = std::vsnprintf(nullptr, 0, format, values);
    va_end(values);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();

    if (KzbLogSink sink = g_sink.load()) {
        sink(level, file, line, text.c_str());
        return;
    }
    std::fprintf(stderr, "[%d] %s:%d %s\n", level, file, line, text.c_str());
}

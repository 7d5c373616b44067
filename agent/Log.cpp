#include "Log.h"

#include "TextFormat.h"

#include "KZBLogThis.h"

#include <atomic>
#include <cstdarg>
#include <string>

namespace {
std::atomic<KzbLogSink> g_sink{nullptr};

// The logger's level filter: TRACE always passes.
bool Rejected(int level)
{
    return level != kzb::log::Trace && level > ::LogLevel(kzb::logging::ThisModule());
}
} // namespace

void KzbSetLogSink(KzbLogSink sink)
{
    g_sink.store(sink);
}

void KzbDiscardLog(int, const char*, int, const char*)
{
}

void KzbLog(int level, const char* file, int line, const char* format, ...)
{
    const KzbLogSink sink = g_sink.load();
    if (sink == &KzbDiscardLog)
        return;
    // A line the level filter rejects is not even formatted.
    if (sink == nullptr && Rejected(level))
        return;

    va_list values;
    va_start(values, format);
    std::string text = FormatTextV(format, values);
    va_end(values);

    if (sink != nullptr) {
        while (text.size() > 1 && text.back() == '\n')
            text.pop_back();
        sink(level, file, line, text.c_str());
        return;
    }
    ::CreateLogMessage(level, file, line, kzb::logging::ThisThreadId(), kzb::logging::ThisModule())
        ->Printf("%s", text.c_str());
}

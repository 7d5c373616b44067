#include "Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
std::mutex g_observerMutex;
kzb::log::Observer g_observer;
} // namespace

void kzb::log::SetObserver(Observer observer)
{
    std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

// Until the logging library is linked in, lines go to stderr.
void KzbLog(int level, const char* file, int line, const char* format, ...)
{
    va_list values;
    va_start(values, format);
    va_list copy;
    va_copy(copy, values);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> buffer(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0)
        std::vsnprintf(buffer.data(), buffer.size(), format, values);
    va_end(values);

    std::string text(buffer.data());
    while (text.size() > 1 && text.back() == '\n')
        text.pop_back();

    {
        std::lock_guard lock(g_observerMutex);
        if (g_observer) {
            g_observer(level, text);
            return;
        }
    }
    std::fprintf(stderr, "[%d] %s:%d %s\n", level, file, line, text.c_str());
}

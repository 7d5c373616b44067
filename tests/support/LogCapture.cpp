#include "LogCapture.h"

#include "Log.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<LogCapture::Line> g_lines;

void Sink(int level, const char* file, int /*line*/, const char* text)
{
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        g_lines.push_back({level, file, text});
    }
    g_changed.notify_all();
    if (std::getenv("KZB_TEST_VERBOSE"))
        std::fprintf(stderr, "[%d] %s\n", level, text);
}

std::size_t CountLocked(const std::string& part)
{
    std::size_t count = 0;
    for (const LogCapture::Line& line : g_lines)
        count += line.text.find(part) != std::string::npos;
    return count;
}

} // namespace

LogCapture::LogCapture()
{
    Clear();
    KzbSetLogSink(&Sink);
}

LogCapture::~LogCapture()
{
    KzbSetLogSink(nullptr);
}

std::vector<LogCapture::Line> LogCapture::Lines() const
{
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_lines;
}

std::size_t LogCapture::Count(const std::string& part) const
{
    std::lock_guard<std::mutex> guard(g_mutex);
    return CountLocked(part);
}

bool LogCapture::WaitFor(const std::string& part, std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, timeout, [&] { return CountLocked(part) >= count; });
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_lines.clear();
}

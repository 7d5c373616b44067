#include "LogMessage.h"

#include "LoggerManager.h"
#include "TimeText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kzb::logging {
namespace {

std::string Copied(const char* text)
{
    return text != nullptr ? std::string(text) : std::string();
}

// A time string of another message, cut to what the buffer holds.
TimeText CopiedTime(const char* text)
{
    TimeText time{};
    if (text != nullptr) {
        std::size_t i = 0;
        for (; i + 1 < time.size() && text[i] != '\0'; ++i)
            time[i] = text[i];
        time[i] = '\0';
    }
    return time;
}

// Appends the formatted result; false when it is empty or formatting failed.
bool AppendFormatted(std::string& text, const char* format, va_list args)
{
    char small[512];
    va_list attempt;
    va_copy(attempt, args);
    const int length = std::vsnprintf(small, sizeof small, format, attempt);
    va_end(attempt);
    if (length <= 0)
        return false;
    if (static_cast<std::size_t>(length) < sizeof small) {
        text.append(small, static_cast<std::size_t>(length));
        return true;
    }
    const std::size_t start = text.size();
    text.resize(start + static_cast<std::size_t>(length));
    va_list again;
    va_copy(again, args);
    const int written = std::vsnprintf(text.data() + start, static_cast<std::size_t>(length) + 1, format, again);
    va_end(again);
    if (written != length) {
        text.resize(start);
        return false;
    }
    return true;
}

} // namespace

const char* FileNameOf(const char* path)
{
    if (path == nullptr)
        return "";
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    return name;
}

LogMessage::LogMessage(std::int32_t level, std::int32_t line, std::uint32_t threadId, ModuleHandle module)
    : m_module(module), m_line(line), m_threadId(threadId), m_level(level)
{
}

LogMessage::LogMessage(const ILogMessage& other)
    : m_file(Copied(other.File())),
      m_localTime(CopiedTime(other.LocalTime())),
      m_text(Copied(other.Text())),
      m_utcTime(CopiedTime(other.UtcTime())),
      m_module(other.Module()),
      m_line(other.Line()),
      m_threadId(other.ThreadId()),
      m_level(other.Level())
{
    if (const auto* ours = dynamic_cast<const LogMessage*>(&other))
        m_suppressed = ours->m_suppressed;
}

void LogMessage::Reset(std::int32_t level, std::int32_t line, std::uint32_t threadId, ModuleHandle module)
{
    // A text that once was very long gives its memory back instead of keeping it pooled.
    constexpr std::size_t kLargestKept = 1024;
    m_file.clear();
    m_localTime[0] = '\0';
    m_utcTime[0] = '\0';
    if (m_text.capacity() > kLargestKept)
        std::string().swap(m_text);
    else
        m_text.clear();
    m_module = module;
    m_line = line;
    m_threadId = threadId;
    m_level = level;
    m_suppressed = false;
}

void LogMessage::Stamp(const char* file)
{
    m_file.assign(FileNameOf(file));
    const TimeStamps stamps = StampNow();
    m_localTime = stamps.local;
    m_utcTime = stamps.utc;
}

void LogMessage::Printf(const char* format, ...)
{
    // From here on a message with a module belongs to this call: freed on every early return.
    MessagePtr owned(m_module != nullptr ? this : nullptr);
    if (m_suppressed || format == nullptr)
        return;

    va_list args;
    va_start(args, format);
    const bool appended = AppendFormatted(m_text, format, args);
    va_end(args);
    if (!appended)
        return;

    while (m_text.size() > 1 && m_text.back() == '\n')
        m_text.pop_back();

    if (owned)
        LoggerManager::Instance().Get(m_module).Log(owned.release());
}

} // namespace kzb::logging

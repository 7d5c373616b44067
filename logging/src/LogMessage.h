// The library's log message: one entry from creation until a logger wrote or dropped it.
#pragma once

#include "KZBLogging.h"
#include "TimeText.h"

#include <memory>
#include <string>
#include <vector>

namespace kzb::logging {

class LogMessage final : public ILogMessage
{
public:
    // Strings empty, not suppressed, no time taken yet.
    LogMessage(std::int32_t level, std::int32_t line, std::uint32_t threadId, ModuleHandle module);
    // Every field of another message, its time strings, text and suppressed mark included.
    explicit LogMessage(const ILogMessage& other);
    ~LogMessage() = default;

    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;

    // Makes a used message as good as new, keeping the memory of its strings.
    void Reset(std::int32_t level, std::int32_t line, std::uint32_t threadId, ModuleHandle module);

    // Keeps the last path component of file and takes the time strings from one clock reading.
    void Stamp(const char* file);
    void Suppress() { m_suppressed = true; }
    bool Suppressed() const { return m_suppressed; }

    // Messages of another module are destroyed here when rejected, handed to their
    // logger when accepted. Module-0 messages stay with their owner.
    void Printf(const char* format, ...) override KZB_PRINTF_LIKE(2, 3);
    std::int32_t Level() const override { return m_level; }
    ModuleHandle Module() const override { return m_module; }
    const char* LocalTime() const override { return m_localTime.data(); }
    const char* UtcTime() const override { return m_utcTime.data(); }
    const char* File() const override { return m_file.c_str(); }
    std::int32_t Line() const override { return m_line; }
    std::uint32_t ThreadId() const override { return m_threadId; }
    const char* Text() const override { return m_text.c_str(); }

private:
    std::string m_file;
    TimeText m_localTime{};
    std::string m_text;
    TimeText m_utcTime{};
    ModuleHandle m_module = nullptr;
    std::int32_t m_line = 0;
    std::uint32_t m_threadId = 0;
    std::int32_t m_level = 0;
    bool m_suppressed = false;
};

using MessagePtr = std::unique_ptr<LogMessage>;
using MessageBatch = std::vector<MessagePtr>;

// The part of a path after its last separator ('/' or '\'); empty for null.
const char* FileNameOf(const char* path);

} // namespace kzb::logging

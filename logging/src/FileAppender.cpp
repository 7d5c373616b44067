#include "FileAppender.h"

#include "LogLine.h"

#include <system_error>

namespace kzb::logging {

std::filesystem::path DebugFilePath(const std::filesystem::path& logFile)
{
    std::filesystem::path debug = logFile;
    debug.replace_extension(".debug");
    return debug;
}

FileAppender::FileAppender(ModuleHandle module, const std::string& defaultLogFile) : m_config(module)
{
    m_config.Load(defaultLogFile);
    const auto folder = m_config.LogFilePath().parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::exists(folder, error))
        std::filesystem::create_directories(folder, error);
}

void FileAppender::Write(const ILogMessage& message)
{
    Add(message);
    Flush();
}

void FileAppender::WriteBurst(const MessageBatch& messages)
{
    // A long burst goes out in slices: one open-write-close each, and a line buffer that
    // stays small instead of growing through large copies.
    constexpr std::size_t kSlice = 1024;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        Add(*messages[i]);
        if ((i + 1) % kSlice == 0)
            Flush();
    }
    Flush();
}

void FileAppender::Add(const ILogMessage& message)
{
    // Looked for once per write or burst, so creating or deleting it acts at once.
    if (!m_debugOn) {
        std::error_code error;
        m_debugOn = std::filesystem::exists(DebugSwitchPath(), error);
    }
    m_line.clear();
    AppendLogLine(m_line, message);
    // TRACE goes only to the debug copy.
    if (message.Level() != LEVEL_TRACE)
        m_main.Add(m_line);
    if (*m_debugOn)
        m_debug.Add(m_line);
}

void FileAppender::Flush()
{
    const auto logFile = m_config.LogFilePath();
    const auto limit = m_config.SizeLimit();
    if (!m_main.Empty())
        AppendRolling(logFile, m_main, limit);
    if (!m_debug.Empty())
        AppendRolling(DebugFilePath(logFile), m_debug, limit);
    m_main.Clear();
    m_debug.Clear();
    m_debugOn.reset();
}

} // namespace kzb::logging

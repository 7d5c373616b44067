// Writes the log lines of a module to its log file, and to the debug copy of it while
// the debug switch file exists. No file stays open between writes.
#pragma once

#include "BurstAppender.h"
#include "Config.h"
#include "RollingFile.h"

#include <optional>
#include <string>

namespace kzb::logging {

class FileAppender final : public BurstAppender
{
public:
    FileAppender(ModuleHandle module, const std::string& defaultLogFile);

    void Write(const ILogMessage& message) override;
    void WriteBurst(const MessageBatch& messages) override;

    std::filesystem::path LogFilePath() { return m_config.LogFilePath(); }

private:
    void Add(const ILogMessage& message);
    void Flush();

    FileConfig m_config;
    // Reused between writes; Write runs under the logger's list lock.
    std::string m_line;
    LineBlock m_main;
    LineBlock m_debug;
    std::optional<bool> m_debugOn;
};

// The log file with its extension replaced by ".debug".
std::filesystem::path DebugFilePath(const std::filesystem::path& logFile);

} // namespace kzb::logging

// The logger of one module: filters by level, queues for its writer thread (or writes in
// the caller's thread), and hands every message to its appenders.
#pragma once

#include "AppenderList.h"
#include "Config.h"
#include "KZBLogging.h"
#include "LogQueue.h"
#include "MessagePool.h"
#include "JoiningThread.h"

#include <mutex>

namespace kzb::logging {

class Logger final : public ILogger, public kzb::JoiningThread
{
public:
    // Loads the module's configuration, queues the start-up line and, when the queue
    // switch is on, starts the writer thread. Written messages go back to pool.
    Logger(ModuleHandle module, SharedSyslogConfig& syslog, MessagePool& pool,
        std::size_t queueCapacity = LogQueue::kDefaultCapacity);
    // Stops the writer first, then writes out the queue and deletes the appenders.
    ~Logger() override;

    void Log(ILogMessage* message) override;
    void SetLogLevel(std::int32_t level) override;
    void SetLogLevel(const char* levelName) override;
    std::int32_t LogLevel() override;
    void Setup(const char* defaultLogFilePath) override;
    void Shutdown() override;
    void ClearAppenders() override;
    void AddAppender(ILogAppender* appender) override;
    void RemoveAppender(ILogAppender* appender) override;
    bool IsRunning() override;

    // Logs the two lines around stopping the writer thread.
    void Stop() override;

    std::filesystem::path ConfigPath() { return m_config.Path(); }

private:
    void Run() override;
    void Wake() override;

    // A message of the logger itself (module 0, so Printf neither filters nor sends it).
    void LogOwn(std::int32_t level, std::int32_t line, const std::string& text);
    void Enqueue(MessagePtr message);
    // Under the logger lock: writes everything queued. Without appenders the messages
    // stay queued for a later Setup.
    void Drain();
    void WriteOutQueue();

    const ModuleHandle m_module;
    SharedSyslogConfig& m_syslog;
    MessagePool& m_pool;
    std::recursive_mutex m_loggerLock;
    AppenderList m_appenders;
    LoggerConfig m_config;
    LogQueue m_queue;
};

} // namespace kzb::logging

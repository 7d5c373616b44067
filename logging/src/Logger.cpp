#include "Logger.h"

#include "FileAppender.h"
#include "Level.h"
#include "OutputDebugStringAppender.h"
#include "SyslogAppender.h"
#include "platform/System.h"

namespace kzb::logging {

Logger::Logger(ModuleHandle module, SharedSyslogConfig& syslog, MessagePool& pool, std::size_t queueCapacity)
    : m_module(module), m_syslog(syslog), m_pool(pool), m_config(module), m_queue(queueCapacity)
{
    m_config.Load();
    const std::int32_t level = m_config.Level();
    if (level == LEVEL_WARNING) {
        LogOwn(LEVEL_PRINT, __LINE__, std::string("Using default log level ") + LevelName(level));
    } else {
        LogOwn(LEVEL_PRINT, __LINE__,
            std::string("Apply log level ") + LevelName(level) + " from " + platform::NarrowFromPath(m_config.Path()));
    }
    if (m_config.QueueOn()) {
        try {
            Start();
        } catch (const std::exception&) {
            // No thread to be had: every message is then written by the thread that logs it.
        }
    }
}

Logger::~Logger()
{
    // The writer must be gone before the queue and the appenders it uses.
    Shutdown();
    Drain();
    m_appenders.Clear();
}

void Logger::LogOwn(std::int32_t level, std::int32_t line, const std::string& text)
{
    auto message = std::make_unique<LogMessage>(level, line, platform::CurrentThreadId(), nullptr);
    message->Stamp(__FILE__);
    message->Printf("%s", text.c_str());
    Log(message.release());
}

void Logger::Log(ILogMessage* message)
{
    // Only messages of this library can be owned (and freed) here.
    MessagePtr owned(dynamic_cast<LogMessage*>(message));
    if (!owned || !PassesFilter(owned->Level(), m_config.Level()))
        return;
    if (!IsRunning() && !m_appenders.Empty()) {
        m_appenders.Write(*owned);
        return;
    }
    Enqueue(std::move(owned));
}

void Logger::Enqueue(MessagePtr message)
{
    // Callers do not take the logger lock: a Setup or drain in progress never makes them wait.
    if (!m_queue.Push(std::move(message)))
        return;
    // The writer may have ended between our check and the push; nobody else would write it.
    if (!IsRunning() && !m_appenders.Empty())
        Drain();
}

void Logger::SetLogLevel(std::int32_t level)
{
    m_config.SetLevel(level);
}

void Logger::SetLogLevel(const char* levelName)
{
    SetLogLevel(LevelFromName(levelName));
}

std::int32_t Logger::LogLevel()
{
    return m_config.Level();
}

void Logger::Setup(const char* defaultLogFilePath)
{
    std::lock_guard lock(m_loggerLock);
    const bool created = m_appenders.FillIfEmpty([&] {
        AppenderList::Appenders appenders;
        appenders.push_back(std::make_unique<FileAppender>(m_module, defaultLogFilePath != nullptr ? defaultLogFilePath : ""));
        if (platform::DebuggerAttached())
            appenders.push_back(std::make_unique<OutputDebugStringAppender>());
        SyslogConfig& syslog = m_syslog.Get();
        if (!syslog.Address().empty())
            appenders.push_back(std::make_unique<SyslogAppender>(m_module, syslog));
        return appenders;
    });
    if (!created)
        return;
    m_queue.Wake();
    Drain();
}

void Logger::Shutdown()
{
    if (IsRunning())
        Stop();
}

void Logger::Stop()
{
    LogOwn(LEVEL_INFO, __LINE__, "Shutting down Logger thread");
    kzb::JoiningThread::Stop();
    if (const std::uint64_t dropped = m_queue.Dropped(); dropped > 0)
        LogOwn(LEVEL_ERROR, __LINE__,
               "Log queue was full: " + std::to_string(dropped) + " message(s) dropped");
    LogOwn(LEVEL_INFO, __LINE__, "Logger thread finished");
}

void Logger::ClearAppenders()
{
    Drain();
    m_appenders.Clear();
}

void Logger::AddAppender(ILogAppender* appender)
{
    m_appenders.Add(appender);
    m_queue.Wake();
}

void Logger::RemoveAppender(ILogAppender* appender)
{
    m_appenders.Remove(appender);
}

bool Logger::IsRunning()
{
    return Running();
}

void Logger::Run()
{
    MessageBatch batch;
    while (Running()) {
        m_queue.WaitTakeAll(batch, [this] { return !m_appenders.Empty(); }, [this] { return !Running(); });
        if (!batch.empty()) {
            m_appenders.Write(batch);
            m_pool.Recycle(batch);
            m_queue.Written();
        }
    }
    WriteOutQueue();
}

void Logger::Wake()
{
    m_queue.Wake();
}

void Logger::Drain()
{
    std::lock_guard lock(m_loggerLock);
    WriteOutQueue();
    // A batch the writer took just before is written before the drain counts as done.
    m_queue.WaitWritten();
}

void Logger::WriteOutQueue()
{
    if (m_appenders.Empty())
        return;
    MessageBatch batch;
    for (m_queue.TakeAll(batch); !batch.empty(); m_queue.TakeAll(batch)) {
        m_appenders.Write(batch);
        m_pool.Recycle(batch);
        m_queue.Written();
    }
}

} // namespace kzb::logging

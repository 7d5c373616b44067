#include "LoggerManager.h"

#include "Level.h"
#include "platform/System.h"

namespace kzb::logging {

LoggerManager& LoggerManager::Instance()
{
    static LoggerManager instance;
    return instance;
}

LoggerManager::~LoggerManager()
{
    // When Windows tears the process down, the writer threads are already gone, possibly
    // while holding a lock: stopping or draining them could hang. The system frees it all.
    if (platform::ProcessTerminating()) {
        for (auto& entry : m_loggers)
            static_cast<void>(entry.second.release());
        m_loggers.clear();
        return;
    }
    std::lock_guard lock(m_lock);
    m_loggers.clear();
}

Logger& LoggerManager::Get(ModuleHandle module)
{
    std::lock_guard lock(m_lock);
    auto& logger = m_loggers[module];
    if (!logger)
        logger = std::make_unique<Logger>(module, m_syslog, m_pool);
    return *logger;
}

void LoggerManager::Destroy(ModuleHandle module)
{
    std::lock_guard lock(m_lock);
    LogMessage* message = CreateMessage(LEVEL_INFO, __FILE__, __LINE__, platform::CurrentThreadId(), module);
    message->Printf("%s", "Destroying Logger.");
    if (module == nullptr) // Printf leaves a module-0 message with us
        Get(module).Log(message);
    m_loggers.erase(module);
}

LogMessage* LoggerManager::CreateMessage(std::int32_t level, const char* file, std::int32_t line,
    std::uint32_t threadId, ModuleHandle module)
{
    MessagePtr message = m_pool.Acquire(level, line, threadId, module);
    if (module != nullptr && !PassesFilter(level, Get(module).LogLevel()))
        message->Suppress();
    else
        message->Stamp(file);
    return message.release();
}

} // namespace kzb::logging

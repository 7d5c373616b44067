// The process's table of loggers, one per module handle.
#pragma once

#include "Config.h"
#include "Logger.h"
#include "MessagePool.h"

#include <map>
#include <memory>
#include <mutex>

namespace kzb::logging {

class LoggerManager
{
public:
    static LoggerManager& Instance();

    LoggerManager() = default;
    LoggerManager(const LoggerManager&) = delete;
    LoggerManager& operator=(const LoggerManager&) = delete;
    ~LoggerManager();

    // The module's logger, created on the first request. Valid until Destroy.
    Logger& Get(ModuleHandle module);
    // Logs "Destroying Logger." to the module's logger, then destroys it.
    void Destroy(ModuleHandle module);

    // A new message. With a module, it is marked suppressed when the module's level
    // rejects it, and then gets neither file name nor time: Printf only frees it.
    LogMessage* CreateMessage(std::int32_t level, const char* file, std::int32_t line, std::uint32_t threadId,
        ModuleHandle module);

private:
    struct ByAddress
    {
        bool operator()(ModuleHandle a, ModuleHandle b) const
        {
            return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
        }
    };

    // Declared first, destroyed last: the loggers refer to them.
    SharedSyslogConfig m_syslog;
    MessagePool m_pool;
    std::recursive_mutex m_lock;
    std::map<ModuleHandle, std::unique_ptr<Logger>, ByAddress> m_loggers;
};

} // namespace kzb::logging

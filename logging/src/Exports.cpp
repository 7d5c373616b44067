// The exported functions. None reports a failure to its caller, so none lets an
// exception out.
#include "KZBLogging.h"

#include "Level.h"
#include "LoggerManager.h"
#include "platform/System.h"

namespace {

using kzb::logging::ILogger;
using kzb::logging::ILogMessage;
using kzb::logging::LogMessage;
using kzb::logging::LoggerManager;
using kzb::logging::ModuleHandle;

// Handed out when memory runs out: suppressed, so Printf leaves it alone and the
// caller's one statement stays safe.
struct SpareMessage
{
    LogMessage message{0, 0, 0, nullptr};
    SpareMessage() { message.Suppress(); }
} spare;

kzb::logging::Logger& LoggerOf(ModuleHandle module)
{
    return LoggerManager::Instance().Get(module);
}

} // namespace

extern "C" {

KZB_LOGGING_API extern const std::int32_t DEFAULT_LOG_LEVEL = 2;

KZB_LOGGING_API ILogger* GetLogger(ModuleHandle module)
{
    try {
        return &LoggerOf(module);
    } catch (...) {
        return nullptr;
    }
}

KZB_LOGGING_API void Setup(const char* defaultLogFilePath, ModuleHandle module)
{
    try {
        LoggerOf(module).Setup(defaultLogFilePath);
    } catch (...) {
    }
}

KZB_LOGGING_API void Shutdown(ModuleHandle module)
{
    try {
        LoggerOf(module).Shutdown();
    } catch (...) {
    }
}

KZB_LOGGING_API void DestroyLogger(ModuleHandle module)
{
    try {
        LoggerManager::Instance().Destroy(module);
    } catch (...) {
    }
}

KZB_LOGGING_API ILogMessage* CreateLogMessage(std::int32_t level, const char* file, std::int32_t line,
    std::uint32_t threadId, ModuleHandle module)
{
    try {
        return LoggerManager::Instance().CreateMessage(level, file, line, threadId, module);
    } catch (...) {
        return &spare.message;
    }
}

KZB_LOGGING_API ILogMessage* CopyLogMessage(const ILogMessage* message)
{
    try {
        return message != nullptr ? new LogMessage(*message) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

KZB_LOGGING_API void DeleteLogMessage(ILogMessage* message)
{
    if (message != &spare.message)
        delete dynamic_cast<LogMessage*>(message);
}

KZB_LOGGING_API std::int32_t LogLevel(ModuleHandle module)
{
    try {
        return LoggerOf(module).LogLevel();
    } catch (...) {
        return DEFAULT_LOG_LEVEL;
    }
}

KZB_LOGGING_API void SetLogLevel(std::int32_t level, ModuleHandle module)
{
    try {
        LoggerOf(module).SetLogLevel(level);
    } catch (...) {
    }
}

KZB_LOGGING_API void LogErrorCode(const char* file, std::int32_t line, std::uint32_t threadId, std::uint32_t errorCode,
    ModuleHandle module)
{
    try {
        const auto text = kzb::logging::platform::SystemErrorText(errorCode);
        CreateLogMessage(kzb::logging::LEVEL_ERROR, file, line, threadId, module)
            ->Printf("Error Code:(%i)%s", static_cast<int>(errorCode), text ? text->c_str() : "");
    } catch (...) {
    }
}

KZB_LOGGING_API const char* LogLevelAsString(std::int32_t level)
{
    return kzb::logging::LevelName(level);
}

KZB_LOGGING_API std::int32_t LogLevelFromString(const char* name)
{
    return kzb::logging::LevelFromName(name);
}

} // extern "C"

// KZBLogging — the logging library shared by every module of the program.
//
// Each module (executable or shared library) logs under its own module handle and gets
// its own logger, configuration file and log file. The usual call is one statement:
//
//     CreateLogMessage(level, __FILE__, __LINE__, threadId, module)->Printf(format, ...);
//
// (KZBLogThis.h wraps it as KZB_LOG). Messages are allocated and freed inside the
// library only: after Printf the caller never touches the message again.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#  if defined(KZBLOGGING_EXPORTS)
#    define KZB_LOGGING_API __declspec(dllexport)
#  elif defined(KZBLOGGING_LINKED_IN)
#    define KZB_LOGGING_API
#  else
#    define KZB_LOGGING_API __declspec(dllimport)
#  endif
#else
#  define KZB_LOGGING_API __attribute__((visibility("default")))
#endif

// Lets -Wall check the format of every Printf. MinGW formats in the GNU way (C99 %zu, %lld).
#if defined(__MINGW32__)
#  define KZB_PRINTF_LIKE(formatIndex, firstArgument) \
     __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#  define KZB_PRINTF_LIKE(formatIndex, firstArgument) \
     __attribute__((format(printf, formatIndex, firstArgument)))
#else
#  define KZB_PRINTF_LIKE(formatIndex, firstArgument)
#endif

namespace kzb::logging {

// The handle of the module that logs (an HMODULE on Windows, the load address natively).
using ModuleHandle = void*;

// Levels: a smaller number is more severe. TRACE always passes the level filter.
enum : std::int32_t {
    LEVEL_ERROR = 0,
    LEVEL_PRINT = 1,
    LEVEL_WARNING = 2,
    LEVEL_MESSAGE = 3,
    LEVEL_INFO = 4,
    LEVEL_TRACE = 5,
};

// One log entry. Created by CreateLogMessage, destroyed only by the library.
class ILogMessage
{
public:
    // Formats the text and hands the message to its module's logger. Removes line feeds
    // from the end of the text (never its first character). A message of module 0 keeps
    // its owner, and repeated calls append to its text.
    virtual void Printf(const char* format, ...) KZB_PRINTF_LIKE(2, 3) = 0;
    virtual std::int32_t Level() const = 0;
    virtual ModuleHandle Module() const = 0;
    // Creation time, "YYYY-MM-DDTHH:MM:SS.ffffff" (no fraction when it is zero).
    virtual const char* LocalTime() const = 0;
    // The same instant in UTC, followed by "Z".
    virtual const char* UtcTime() const = 0;
    // The source file name without its folders.
    virtual const char* File() const = 0;
    virtual std::int32_t Line() const = 0;
    virtual std::uint32_t ThreadId() const = 0;
    virtual const char* Text() const = 0;

protected:
    ~ILogMessage() = default;
};

// One destination of a logger's messages. The logger owns its appenders.
class ILogAppender
{
public:
    virtual void Write(const ILogMessage& message) = 0;
    virtual ~ILogAppender() = default;
};

// The logger of one module. Loggers belong to the library; never delete one.
class ILogger
{
public:
    // Takes ownership of a message of this library; filters, then queues or writes it.
    virtual void Log(ILogMessage* message) = 0;
    // Sets the level and, when it changed, stores its name in the module's configuration.
    virtual void SetLogLevel(std::int32_t level) = 0;
    virtual void SetLogLevel(const char* levelName) = 0;
    virtual std::int32_t LogLevel() = 0;
    // Creates the appenders once and writes out what was queued before.
    virtual void Setup(const char* defaultLogFilePath) = 0;
    // Stops the writer thread; from then on messages are written by the logging thread.
    virtual void Shutdown() = 0;
    // Writes out what is queued, then deletes every appender.
    virtual void ClearAppenders() = 0;
    // The logger owns the appender from now on.
    virtual void AddAppender(ILogAppender* appender) = 0;
    // Takes the appender out of the list without deleting it.
    virtual void RemoveAppender(ILogAppender* appender) = 0;
    virtual bool IsRunning() = 0;

protected:
    ~ILogger() = default;
};

} // namespace kzb::logging

extern "C" {

// The level to use when a caller keeps a level of its own and has none yet: 2, WARNING.
KZB_LOGGING_API extern const std::int32_t DEFAULT_LOG_LEVEL;

KZB_LOGGING_API kzb::logging::ILogger* GetLogger(kzb::logging::ModuleHandle module);
// Creates the module's appenders with defaultLogFilePath as the log file unless the
// module's configuration names one; only the first call has an effect.
KZB_LOGGING_API void Setup(const char* defaultLogFilePath, kzb::logging::ModuleHandle module);
// Stops the module's writer thread after writing out everything queued.
KZB_LOGGING_API void Shutdown(kzb::logging::ModuleHandle module);
KZB_LOGGING_API void DestroyLogger(kzb::logging::ModuleHandle module);

// file may be null; only its last path component is kept. A module of 0 makes a message
// that is neither filtered nor dispatched: its creator passes it to a logger itself.
KZB_LOGGING_API kzb::logging::ILogMessage* CreateLogMessage(std::int32_t level, const char* file,
    std::int32_t line, std::uint32_t threadId, kzb::logging::ModuleHandle module);
KZB_LOGGING_API kzb::logging::ILogMessage* CopyLogMessage(const kzb::logging::ILogMessage* message);
// Frees a message the caller still owns; ignores null and messages of other classes.
KZB_LOGGING_API void DeleteLogMessage(kzb::logging::ILogMessage* message);

KZB_LOGGING_API std::int32_t LogLevel(kzb::logging::ModuleHandle module);
KZB_LOGGING_API void SetLogLevel(std::int32_t level, kzb::logging::ModuleHandle module);
// Logs "Error Code:(<code>)<system text>" at ERROR.
KZB_LOGGING_API void LogErrorCode(const char* file, std::int32_t line, std::uint32_t threadId,
    std::uint32_t errorCode, kzb::logging::ModuleHandle module);

// "ERROR", "PRINT", "WARNING", "MESSAGE", "INFO", "TRACE"; "WARNING" for any other value.
KZB_LOGGING_API const char* LogLevelAsString(std::int32_t level);
// Case-insensitive; "MSG" means MESSAGE; anything else (TRACE included) gives WARNING.
KZB_LOGGING_API std::int32_t LogLevelFromString(const char* name);

} // extern "C"

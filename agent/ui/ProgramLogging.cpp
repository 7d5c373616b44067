#include "ProgramLogging.h"

// The module handle comes from the library's header.
#include "KZBLogThis.h"

#include "Registry.h"
#include "handlers/Identity.h"
#include "VersionInfoStore.h"

#include "Log.h"
#include "SystemPath.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kzb::platform {
// The user's Documents folder; empty when the system has none.
std::string DocumentsFolder();
int ProcessId();
} // namespace kzb::platform

namespace {

#if defined(_WIN32)
constexpr char Separator = '\\';
#else
constexpr char Separator = '/';
#endif

// Creates one folder level; false when that fails for another reason than that it exists.
bool CreateFolder(const std::string& folder)
{
    std::error_code error;
    const std::filesystem::path path = PathFromSystemText(folder);
    std::filesystem::create_directory(path, error);
    return !error || std::filesystem::is_directory(path, error);
}

std::string WithSeparator(std::string folder)
{
    if (!folder.empty() && folder.back() != Separator && folder.back() != '/')
        folder += Separator;
    return folder;
}

// The log folder record. Written once before it is published; readers see either nothing or
// the whole record.
enum RecordState : int { Empty, Writing, Published };
std::atomic<int> g_recordState{Empty};
char g_recordedFolder[260];
bool g_recordedNoFolder = false;

void RecordLogFolder(const LogFolder& folder)
{
    int expected = Empty;
    if (!g_recordState.compare_exchange_strong(expected, Writing))
        return;
    const std::size_t length = std::min(folder.folder.size(), sizeof g_recordedFolder - 1);
    std::memcpy(g_recordedFolder, folder.folder.data(), length);
    g_recordedFolder[length] = '\0';
    g_recordedNoFolder = folder.noFolder;
    g_recordState.store(Published, std::memory_order_release);
}

} // namespace

LogFolderRecord RecordedLogFolder()
{
    if (g_recordState.load(std::memory_order_acquire) != Published)
        return {"", false};
    return {g_recordedFolder, g_recordedNoFolder};
}

LogFolder UseLogFolder(const std::string& folder)
{
    LogFolder result;
    if (!folder.empty() && CreateFolder(folder))
        result.folder = WithSeparator(folder);
    result.noFolder = result.folder.empty();
    return result;
}

LogFolder FindLogFolder()
{
    CRegistry registry;
    std::string path;
    if (registry.ReadText(CRegistry::Root::CurrentUser, "LogPath", path, 260) ||
        registry.ReadText(CRegistry::Root::LocalMachine, "LogPath", path, 260))
        return UseLogFolder(path);

    LogFolder result;
    const std::string documents = kzb::platform::DocumentsFolder();
    if (!documents.empty()) {
        const std::string own = WithSeparator(documents) + "KZBDKA";
        result.folder = CreateFolder(own) ? WithSeparator(own) : WithSeparator(documents);
    }
    result.noFolder = result.folder.empty();
    return result;
}

void StartProgramLogging(const LogFolder& folder)
{
    RecordLogFolder(folder);
    const std::string current = std::string(".") + Separator;
    const std::string logFolder = folder.noFolder ? current : folder.folder;
    const std::string logFile = logFolder + "KZBDKA.txt";
    ::Setup(logFile.c_str(), kzb::logging::ThisModule());
    CRegistry registry;
    ::SetLogLevel(static_cast<std::int32_t>(
                      registry.ReadNumber(CRegistry::Root::CurrentUser, "LogLevel",
                                          static_cast<std::uint32_t>(DEFAULT_LOG_LEVEL))),
                  kzb::logging::ThisModule());
    VersionInfoStore version;
    AGENT_LOG(kzb::log::Error, "KZBDKA Version %s (PID %d)\n", version.GetVersion(),
            kzb::platform::ProcessId());
    AGENT_LOG(kzb::log::Error, "Using '%s' for minidumps\n", logFolder.c_str());
    const std::string user = QueryUserName();
    if (!user.empty())
        AGENT_LOG(kzb::log::Error, "Current user is '%s'", user.c_str());
}

void StopProgramLogging()
{
    ::Shutdown(kzb::logging::ThisModule());
}

#include "Config.h"

#include "Level.h"
#include "platform/Profile.h"
#include "platform/System.h"

#include <system_error>

namespace kzb::logging {
namespace {

constexpr const char* kLoggerSection = "KZBLogging";
constexpr const char* kFileSection = "LogFile";
constexpr const char* kSyslogSection = "Syslog";
constexpr unsigned kDefaultSizeMB = 15;
constexpr int kDefaultPort = 514;

bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

} // namespace

std::filesystem::path FixedConfigFolder()
{
    return platform::FixedRoot() / "QVN" / "Config" / "logging";
}

std::filesystem::path DebugSwitchPath()
{
    return platform::FixedRoot() / "QVN" / "DEBUG.ON";
}

std::filesystem::path FindModuleConfigFile(const std::filesystem::path& moduleFile, const std::filesystem::path& fixedFolder)
{
    if (moduleFile.empty())
        return {};
    std::filesystem::path appended = moduleFile;
    appended += ".log.config.ini";
    std::filesystem::path replaced = moduleFile;
    replaced.replace_extension(".log.config");
    if (Exists(appended))
        return appended;
    if (Exists(replaced))
        return replaced;
    return fixedFolder / replaced.filename();
}

std::filesystem::path FindGlobalConfigFile(const std::string& name, const std::filesystem::path& executableFile,
    const std::filesystem::path& fixedFolder)
{
    const std::string fileName = name + ".config.ini";
    if (!executableFile.empty()) {
        const auto besideExecutable = executableFile.parent_path() / fileName;
        if (Exists(besideExecutable))
            return besideExecutable;
    }
    return fixedFolder / fileName;
}

std::filesystem::path Config::Path()
{
    std::lock_guard lock(m_lock);
    if (!m_found) {
        m_found = true;
        m_path = ComputePath();
        std::error_code error;
        if (!m_path.empty() && m_path.has_parent_path() && !std::filesystem::exists(m_path.parent_path(), error))
            std::filesystem::create_directories(m_path.parent_path(), error);
    }
    return m_path;
}

std::string Config::ProfileFile()
{
    return platform::NarrowFromPath(Path());
}

std::filesystem::path ModuleConfig::ComputePath()
{
    return FindModuleConfigFile(platform::ModuleFileName(m_module), FixedConfigFolder());
}

void LoggerConfig::Load()
{
    const std::string file = ProfileFile();
    std::lock_guard lock(m_lock);
    // Without a file (an unknown module) the defaults stand; nothing is written anywhere.
    if (file.empty())
        return;
    const std::string name = platform::ReadIniString(kLoggerSection, "LogLevel", "WARNING", 16, file);
    const std::int32_t level = LevelFromName(name.c_str());
    m_level = level;
    platform::WriteIniString(kLoggerSection, "LogLevel", LevelName(level), file);
    m_queueOn = platform::ReadIniInt(kLoggerSection, "LogQueue", 1, file) != 0;
}

void LoggerConfig::SetLevel(std::int32_t level)
{
    std::lock_guard lock(m_lock);
    if (level == m_level)
        return;
    m_level = level;
    const std::string file = ProfileFile();
    if (!file.empty())
        platform::WriteIniString(kLoggerSection, "LogLevel", LevelName(level), file);
}

bool LoggerConfig::QueueOn()
{
    std::lock_guard lock(m_lock);
    return m_queueOn;
}

void FileConfig::Load(const std::string& defaultLogFile)
{
    const std::string file = ProfileFile();
    std::lock_guard lock(m_lock);
    if (file.empty()) {
        m_logFile = platform::PathFromNarrow(defaultLogFile);
        return;
    }
    m_logFile = platform::PathFromNarrow(platform::ReadIniString(kFileSection, "Path", defaultLogFile.c_str(), 260, file));
    // Kept in 64 bits: 4096 MB and more must not wrap to a tiny limit. A negative
    // value is a typing error; the default serves better than a 4 GB limit.
    const auto megabytes = static_cast<std::int32_t>(platform::ReadIniInt(kFileSection, "MaxSizeMB", kDefaultSizeMB, file));
    m_sizeLimit = static_cast<std::uint64_t>(megabytes < 0 ? kDefaultSizeMB : static_cast<unsigned>(megabytes)) << 20;
}

std::filesystem::path FileConfig::LogFilePath()
{
    std::lock_guard lock(m_lock);
    return m_logFile;
}

std::uint64_t FileConfig::SizeLimit()
{
    std::lock_guard lock(m_lock);
    return m_sizeLimit;
}

std::filesystem::path GlobalConfig::ComputePath()
{
    return FindGlobalConfigFile(m_name, platform::ExecutableFileName(), FixedConfigFolder());
}

SyslogConfig::SyslogConfig() : GlobalConfig("syslog")
{
    const std::string file = ProfileFile();
    std::lock_guard lock(m_lock);
    if (file.empty())
        return;
    m_address = platform::ReadIniString(kSyslogSection, "Address", "", 1024, file);
    // A port outside 1 to 65535 would wrap to some other port; use the standard one.
    const unsigned port = platform::ReadIniInt(kSyslogSection, "Port", kDefaultPort, file);
    m_port = static_cast<std::uint16_t>(port >= 1 && port <= 65535 ? port : kDefaultPort);
}

std::string SyslogConfig::Address()
{
    std::lock_guard lock(m_lock);
    return m_address;
}

std::uint16_t SyslogConfig::Port()
{
    std::lock_guard lock(m_lock);
    return m_port;
}

SyslogConfig& SharedSyslogConfig::Get()
{
    std::lock_guard lock(m_lock);
    if (!m_config)
        m_config = std::make_unique<SyslogConfig>();
    return *m_config;
}

} // namespace kzb::logging

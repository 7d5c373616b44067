// The library's settings, read from INI files: one file per module (level, queue switch,
// log file) and one per installation (syslog). Each object finds its file once.
#pragma once

#include "KZBLogging.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace kzb::logging {

// "<root>QVN\Config\logging\": the per-machine folder of configuration files.
std::filesystem::path FixedConfigFolder();
// "<root>QVN\DEBUG.ON": while it exists, every log file gets a debug copy.
std::filesystem::path DebugSwitchPath();

// The per-module file: "<module file>.log.config.ini" next to the module, else
// "<module name>.log.config" next to it, else that name in the fixed folder.
std::filesystem::path FindModuleConfigFile(const std::filesystem::path& moduleFile, const std::filesystem::path& fixedFolder);
// "<name>.config.ini" next to the executable when it exists, else in the fixed folder.
std::filesystem::path FindGlobalConfigFile(const std::string& name, const std::filesystem::path& executableFile,
    const std::filesystem::path& fixedFolder);

class Config
{
public:
    virtual ~Config() = default;
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    // The file, found at the first call; its folder is created when missing. Empty when
    // there is no file to use (a module the system does not know).
    std::filesystem::path Path();

protected:
    Config() = default;
    virtual std::filesystem::path ComputePath() = 0;
    // Path() as the profile functions take it; empty when there is none.
    std::string ProfileFile();

    std::recursive_mutex m_lock;

private:
    bool m_found = false;
    std::filesystem::path m_path;
};

class ModuleConfig : public Config
{
public:
    explicit ModuleConfig(ModuleHandle module) : m_module(module) {}
    ModuleHandle Module() const { return m_module; }

protected:
    std::filesystem::path ComputePath() override;

private:
    const ModuleHandle m_module;
};

// The logger's level and queue switch.
class LoggerConfig : public ModuleConfig
{
public:
    using ModuleConfig::ModuleConfig;

    // Reads the level and writes it back as a valid name; reads the queue switch.
    void Load();
    std::int32_t Level() const { return m_level.load(std::memory_order_relaxed); }
    // Stores the level and, when it changed, writes its name to the file.
    void SetLevel(std::int32_t level);
    bool QueueOn();

private:
    // Read on every message without the lock; written under it.
    std::atomic<std::int32_t> m_level{2};
    bool m_queueOn = true;
};

// The file appender's log file and size limit.
class FileConfig : public ModuleConfig
{
public:
    using ModuleConfig::ModuleConfig;

    void Load(const std::string& defaultLogFile);
    std::filesystem::path LogFilePath();
    std::uint64_t SizeLimit();

private:
    std::filesystem::path m_logFile;
    std::uint64_t m_sizeLimit = 15u << 20;
};

class GlobalConfig : public Config
{
public:
    explicit GlobalConfig(std::string name) : m_name(std::move(name)) {}

protected:
    std::filesystem::path ComputePath() override;

private:
    const std::string m_name;
};

// Where syslog datagrams go. Read once, when constructed.
class SyslogConfig : public GlobalConfig
{
public:
    SyslogConfig();

    std::string Address();
    std::uint16_t Port();

private:
    std::string m_address;
    std::uint16_t m_port = 514;
};

// The process's one syslog configuration, read when first asked for.
class SharedSyslogConfig
{
public:
    SyslogConfig& Get();

private:
    std::mutex m_lock;
    std::unique_ptr<SyslogConfig> m_config;
};

} // namespace kzb::logging

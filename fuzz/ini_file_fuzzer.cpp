// Feeds arbitrary bytes as an INI file to the private-profile rules the native build reads
// its INI files with: the logging library's module and syslog files and the crash writer's
// MiniDumper.ini (which Windows itself reads with the same rules). Every value the programs
// read is read as they read it; the level the logger writes back must then read back.
#include "IniFile.h"
#include "Level.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace kzb::logging;

namespace {
struct Read
{
    const char* section;
    const char* key;
    const char* defaultValue;
    std::size_t bufferSize;
};

// What the programs read: the logger's level and queue switch, the file appender's file and
// size, the syslog address and port, the crash writer's switches.
constexpr Read Reads[] = {
    {"Logger", "LogLevel", "WARNING", 16},  {"Logger", "LogQueue", "", 30},
    {"File", "Path", "default.log", 260},   {"File", "MaxSizeMB", "", 30},
    {"Syslog", "Address", "", 1024},        {"Syslog", "Port", "", 30},
    {"Settings", "DumpAllHeapBlocks", "", 30}, {"Settings", "DisableLogging", "", 30},
    {"Settings", "Type", "", 30},
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view content(reinterpret_cast<const char*>(data), size);
    if (content.substr(0, 3) == "\xEF\xBB\xBF")
        content.remove_prefix(3);

    for (const Read& read : Reads) {
        const std::string text = ini::ProfileString(ini::Find(content, read.section, read.key), read.defaultValue,
                                                    read.bufferSize);
        if (text.size() >= read.bufferSize)
            std::abort();
        if (read.bufferSize == 30 && !text.empty())
            (void)ini::ProfileInt(text);
        else if (read.bufferSize == 16)
            (void)LevelFromName(text.c_str());
    }

    // The logger writes its level back as a name; whatever the file held, it then reads back.
    const std::string written = ini::Set(content, "Logger", "LogLevel", "DEBUG");
    const auto again = ini::Find(written, "Logger", "LogLevel");
    if (!again || *again != "DEBUG")
        std::abort();
    return 0;
}

// Operating-system services natively (Linux).
#include "platform/System.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <link.h>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace kzb::logging::platform {

std::filesystem::path ModuleFileName(ModuleHandle module)
{
    if (module == nullptr)
        return ExecutableFileName();
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(module, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr)
        return {};
    // The executable's link map has no name.
    if (map->l_name == nullptr || map->l_name[0] == '\0')
        return ExecutableFileName();
    std::error_code error;
    const auto absolute = std::filesystem::absolute(map->l_name, error);
    return error ? std::filesystem::path(map->l_name) : absolute;
}

std::filesystem::path ExecutableFileName()
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::filesystem::path FixedRoot()
{
    if (const char* root = std::getenv("KZB_ROOT"); root != nullptr && *root != '\0')
        return root;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::filesystem::path(home) / ".kzb";
    return "/var/lib/kzb";
}

std::string NarrowFromPath(const std::filesystem::path& path)
{
    return path.string();
}

std::filesystem::path PathFromNarrow(const std::string& text)
{
    return text;
}

bool ToLocalTime(std::time_t time, std::tm& out)
{
    return localtime_r(&time, &out) != nullptr;
}

bool ToUtcTime(std::time_t time, std::tm& out)
{
    return gmtime_r(&time, &out) != nullptr;
}

std::uint32_t CurrentThreadId()
{
    return static_cast<std::uint32_t>(gettid());
}

bool DebuggerAttached()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    constexpr std::string_view kTracer = "TracerPid:";
    while (std::getline(status, line)) {
        if (line.compare(0, kTracer.size(), kTracer) == 0)
            return std::strtol(line.c_str() + kTracer.size(), nullptr, 10) != 0;
    }
    return false;
}

void DebugOutput(const std::string& utf8Line)
{
    std::size_t done = 0;
    while (done < utf8Line.size()) {
        const ssize_t written = ::write(STDERR_FILENO, utf8Line.data() + done, utf8Line.size() - done);
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

std::optional<std::string> SystemErrorText(std::uint32_t code)
{
    char buffer[256];
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    return std::string(text);
}

bool ProcessTerminating()
{
    // Threads outlive exit() handlers here; stopping them normally is safe.
    return false;
}

} // namespace kzb::logging::platform

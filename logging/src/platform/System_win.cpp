// Operating-system services on Windows.
#include "platform/System.h"

#include <windows.h>

#include <vector>

namespace kzb::logging::platform {
namespace {

std::wstring Widen(const std::string& text, UINT codePage, DWORD flags)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

} // namespace

std::filesystem::path ModuleFileName(ModuleHandle module)
{
    // Long enough for any path, so a deep folder never yields a cut name.
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size())
        return {};
    return std::filesystem::path(std::wstring(buffer.data(), length));
}

std::filesystem::path ExecutableFileName()
{
    return ModuleFileName(nullptr);
}

std::filesystem::path FixedRoot()
{
    return L"C:\\";
}

std::string NarrowFromPath(const std::filesystem::path& path)
{
    const std::wstring& wide = path.native();
    if (wide.empty())
        return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::filesystem::path PathFromNarrow(const std::string& text)
{
    return std::filesystem::path(Widen(text, CP_ACP, 0));
}

bool ToLocalTime(std::time_t time, std::tm& out)
{
    return localtime_s(&out, &time) == 0;
}

bool ToUtcTime(std::time_t time, std::tm& out)
{
    return gmtime_s(&out, &time) == 0;
}

std::uint32_t CurrentThreadId()
{
    return GetCurrentThreadId();
}

bool DebuggerAttached()
{
    BOOL remote = FALSE;
    return IsDebuggerPresent() || (CheckRemoteDebuggerPresent(GetCurrentProcess(), &remote) && remote);
}

void DebugOutput(const std::string& utf8Line)
{
    OutputDebugStringW(Widen(utf8Line, CP_UTF8, 0).c_str());
}

std::optional<std::string> SystemErrorText(std::uint32_t code)
{
    constexpr DWORD kUsEnglish = 1033;
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        kUsEnglish, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0 || text == nullptr)
        return std::nullopt;
    std::string result(text, length);
    LocalFree(text);
    return result;
}

bool ProcessTerminating()
{
    // Set by the loader once ExitProcess has killed every other thread.
    using ShutdownQuery = BOOLEAN(WINAPI*)();
    static const auto query = reinterpret_cast<ShutdownQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
    return query != nullptr && query() != FALSE;
}

} // namespace kzb::logging::platform

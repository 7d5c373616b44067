#include "platform/AppendFile.h"

#include <windows.h>

namespace kzb::logging::platform {
namespace {

HANDLE AsHandle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

AppendFile::AppendFile(const std::filesystem::path& path)
    // FILE_READ_ATTRIBUTES: GetFileSizeEx needs it; appending alone would not allow it.
    : m_handle(reinterpret_cast<std::intptr_t>(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)))
{
}

AppendFile::~AppendFile()
{
    if (IsOpen())
        CloseHandle(AsHandle(m_handle));
}

bool AppendFile::IsOpen() const
{
    return AsHandle(m_handle) != INVALID_HANDLE_VALUE;
}

std::uint64_t AppendFile::Size() const
{
    LARGE_INTEGER size{};
    if (!IsOpen() || !GetFileSizeEx(AsHandle(m_handle), &size))
        return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool AppendFile::Write(std::string_view bytes)
{
    while (IsOpen() && !bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(AsHandle(m_handle), bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return IsOpen();
}

bool MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

} // namespace kzb::logging::platform

// Appending to a log file with one open-write-close, sharing it with other writers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace kzb::logging::platform {

// Log files are text files: lines end in CR LF on Windows.
#if defined(_WIN32)
inline constexpr bool kCrLfLines = true;
#else
inline constexpr bool kCrLfLines = false;
#endif

// A file opened for appending (created when missing) without denying anyone read,
// write or delete access. Closed by the destructor.
class AppendFile
{
public:
    explicit AppendFile(const std::filesystem::path& path);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    bool IsOpen() const;
    // The size before anything this object writes, or 0 when unknown.
    std::uint64_t Size() const;
    bool Write(std::string_view bytes);

private:
    std::intptr_t m_handle;
};

// Renames from to to, replacing a file of that name.
bool MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace kzb::logging::platform

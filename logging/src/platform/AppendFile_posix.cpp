#include "platform/AppendFile.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kzb::logging::platform {

AppendFile::AppendFile(const std::filesystem::path& path)
    : m_handle(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644))
{
}

AppendFile::~AppendFile()
{
    if (IsOpen())
        ::close(static_cast<int>(m_handle));
}

bool AppendFile::IsOpen() const
{
    return m_handle >= 0;
}

std::uint64_t AppendFile::Size() const
{
    struct stat info{};
    if (!IsOpen() || ::fstat(static_cast<int>(m_handle), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

bool AppendFile::Write(std::string_view bytes)
{
    while (IsOpen() && !bytes.empty()) {
        const ssize_t written = ::write(static_cast<int>(m_handle), bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return IsOpen();
}

bool MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace kzb::logging::platform

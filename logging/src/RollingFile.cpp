#include "RollingFile.h"

#include "platform/AppendFile.h"

#include <system_error>

namespace kzb::logging {
namespace {

void RotateWhenFull(const std::filesystem::path& file, std::uint64_t sizeLimit)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return;
    const auto size = std::filesystem::file_size(file, error);
    if (!error && size >= sizeLimit)
        platform::MoveReplacing(file, OldFilePath(file));
}

} // namespace

void LineBlock::Add(std::string_view line)
{
    if constexpr (platform::kCrLfLines) {
        for (const char c : line) {
            if (c == '\n')
                m_text += '\r';
            m_text += c;
        }
    } else {
        m_text += line;
    }
    m_ends.push_back(m_text.size());
}

void LineBlock::Clear()
{
    m_text.clear();
    m_ends.clear();
}

std::filesystem::path OldFilePath(const std::filesystem::path& file)
{
    std::filesystem::path old = file;
    old += ".old";
    return old;
}

void AppendRolling(const std::filesystem::path& file, const LineBlock& lines, std::uint64_t sizeLimit)
{
    if (file.empty())
        return;
    const std::string_view text = lines.Text();
    const auto& ends = lines.Ends();
    std::size_t next = 0;  // the next line to write
    std::size_t begin = 0; // where it starts in text
    while (next < ends.size()) {
        std::size_t end = begin;
        bool full = false;
        {
            platform::AppendFile out(file);
            if (!out.IsOpen())
                return;
            const std::uint64_t size = out.Size();
            while (next < ends.size()) {
                end = ends[next++];
                if (size + (end - begin) >= sizeLimit) {
                    full = true;
                    break;
                }
            }
            out.Write(text.substr(begin, end - begin));
        }
        begin = end;
        if (full)
            RotateWhenFull(file, sizeLimit);
    }
}

} // namespace kzb::logging

// A log file that is appended to by one open-write-close per block of lines and renamed
// to "<file>.old" as soon as a line brings it to its size limit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kzb::logging {

// Lines bound for one file, in the file's own form (CR LF on Windows), with the end of
// each line so that rotation can still happen between any two of them.
class LineBlock
{
public:
    void Add(std::string_view line);
    void Clear();
    bool Empty() const { return m_ends.empty(); }
    std::string_view Text() const { return m_text; }
    const std::vector<std::size_t>& Ends() const { return m_ends; }

private:
    std::string m_text;
    std::vector<std::size_t> m_ends;
};

// Appends the lines. Whenever the file reaches sizeLimit bytes after a line, it becomes
// "<file>.old" (replacing the previous one) and the next line starts a new file.
// Failures lose the lines for this file and are not reported.
void AppendRolling(const std::filesystem::path& file, const LineBlock& lines, std::uint64_t sizeLimit);

// "<file>.old": the one older generation of a log file.
std::filesystem::path OldFilePath(const std::filesystem::path& file);

} // namespace kzb::logging

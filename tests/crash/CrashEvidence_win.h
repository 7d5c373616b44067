// What a crash left behind, as the crash tests read it: the minidump (its header and stream
// directory) and the lines of the log file.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace crash_evidence {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- the minidump

// The documented layout: a 32-byte header, a directory of 12-byte entries, the streams.
inline constexpr std::uint32_t MinidumpSignature = 0x504D444D; // "MDMP"
inline constexpr std::uint32_t MemoryListStream = 5;
inline constexpr std::uint32_t ExceptionStream = 6;
inline constexpr std::uint32_t Memory64ListStream = 9;

struct Minidump
{
    std::uint32_t signature = 0;
    std::uint64_t flags = 0; // the dump type it was written with
    std::uintmax_t size = 0;
    std::map<std::uint32_t, std::uint32_t> streamSizes;
    std::optional<std::uint32_t> exceptionThread;
    std::optional<std::uint32_t> exceptionCode;
    std::uint64_t exceptionAddress = 0;
    std::uint64_t memory64Bytes = 0; // memory held by the full-memory list

    bool Has(std::uint32_t stream) const { return streamSizes.count(stream) != 0; }
};

template <typename T>
T ReadAt(std::ifstream& in, std::uint64_t offset)
{
    T value{};
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(&value), sizeof value);
    return value;
}

inline Minidump ReadMinidump(const fs::path& path)
{
    Minidump dump;
    dump.size = fs::file_size(path);
    std::ifstream in(path, std::ios::binary);
    dump.signature = ReadAt<std::uint32_t>(in, 0);
    const auto streams = ReadAt<std::uint32_t>(in, 8);
    const auto directory = ReadAt<std::uint32_t>(in, 12);
    dump.flags = ReadAt<std::uint64_t>(in, 24);
    for (std::uint32_t i = 0; i < streams && in; ++i) {
        const std::uint64_t entry = directory + 12ull * i;
        const auto type = ReadAt<std::uint32_t>(in, entry);
        const auto size = ReadAt<std::uint32_t>(in, entry + 4);
        const auto rva = ReadAt<std::uint32_t>(in, entry + 8);
        if (type == 0)
            continue; // unused entry
        dump.streamSizes[type] = size;
        if (type == ExceptionStream) {
            // ThreadId, alignment, then MINIDUMP_EXCEPTION: code, flags, record, address.
            dump.exceptionThread = ReadAt<std::uint32_t>(in, rva);
            dump.exceptionCode = ReadAt<std::uint32_t>(in, rva + 8);
            dump.exceptionAddress = ReadAt<std::uint64_t>(in, rva + 24);
        } else if (type == Memory64ListStream) {
            // Range count and base RVA, then {start, size} per range.
            const auto ranges = ReadAt<std::uint64_t>(in, rva);
            for (std::uint64_t r = 0; r < ranges && in; ++r)
                dump.memory64Bytes += ReadAt<std::uint64_t>(in, rva + 16 + 16 * r + 8);
        }
    }
    return dump;
}

// ---------------------------------------------------------------- the log file

struct LogEntry
{
    std::string file;
    unsigned thread = 0;
    std::string time; // local, "YYYY-Mon-DD HH:MM:SS[.ffffff]"
    std::string text;
};

// "File(Line): (TID 0F2C) 2024-Jan-01 12:00:00.123456 [ERROR] - text"; a text with line
// feeds goes on over the following lines.
inline std::vector<LogEntry> ReadLog(const fs::path& path)
{
    static const std::regex start(
        R"(^([^ (]+)\(\d+\): \(TID ([0-9A-F]+)\) (\d{4}-[A-Za-z]{3}-\d{2} \d{2}:\d{2}:\d{2}(?:\.\d{6})?) \[[A-Z]+\] - )");
    std::ifstream in(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    content.erase(std::remove(content.begin(), content.end(), '\r'), content.end());
    if (!content.empty() && content.back() == '\n')
        content.pop_back();

    std::vector<LogEntry> entries;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch match;
        if (std::regex_search(line, match, start)) {
            entries.push_back({match[1], static_cast<unsigned>(std::stoul(match[2], nullptr, 16)), match[3],
                               match.suffix()});
        } else if (!entries.empty()) {
            entries.back().text += "\n" + line;
        }
    }
    return entries;
}

// The lines of the crash dump writer (not those of the start-up).
inline std::vector<LogEntry> WriterLines(const std::vector<LogEntry>& entries)
{
    std::vector<LogEntry> lines;
    for (const LogEntry& entry : entries)
        if (entry.file == "MiniDumper.cpp" || entry.file == "HeapReport.cpp" || entry.file == "Semaphore.cpp")
            lines.push_back(entry);
    return lines;
}

inline std::vector<LogEntry> LinesOfThread(const std::vector<LogEntry>& entries, unsigned thread)
{
    std::vector<LogEntry> lines;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(lines),
                 [thread](const LogEntry& entry) { return entry.thread == thread; });
    return lines;
}

inline std::string Escaped(const std::string& text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

// Each line matches its pattern, in order, and there are no others.
inline void ExpectLines(const std::vector<LogEntry>& lines, const std::vector<std::string>& patterns)
{
    for (std::size_t i = 0; i < std::max(lines.size(), patterns.size()); ++i) {
        const std::string text = i < lines.size() ? lines[i].text : "<no line>";
        const std::string pattern = i < patterns.size() ? patterns[i] : "<no line expected>";
        EXPECT_TRUE(std::regex_match(text, std::regex(pattern))) << "line " << i << ": '" << text
                                                                 << "'\n  expected: " << pattern;
    }
}

// The lines of a crash that wrote a normal dump named dumpName and a heap walk that ended well.
inline std::vector<std::string> CrashLines(const std::string& dumpName, const std::string& exceptionInfo, int dumpType)
{
    std::vector<std::string> lines = {R"(Exception detected\.)", R"(Semaphore locked\.)"};
    if (!exceptionInfo.empty())
        lines.push_back(exceptionInfo);
    const std::vector<std::string> rest = {
             R"(Looking for MiniDump DLL)",
             R"(Loaded MiniDump DLL\.)",
             R"(Found dump function)",
             "Trying to create dump file " + Escaped(dumpName),
             R"(Opened dump file\.)",
             R"(Wrote memory dump successfully\. Stopping\. \[DumpType:)" + std::to_string(dumpType) + R"(\])",
             R"(Heap information:)",
             R"(Heap status: \{-5\} '' \[Blocks:\d+, Used:\d+, Free:\d+, TotalSize:\d+\])",
             R"(Number of remaining heap blocks: \d+)",
             R"(Semaphore unlocked\.)",
    };
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

inline std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// "2024-Dec-10 14:40:12.708340" as 100-ns units of the local time.
inline std::uint64_t LocalTimeUnits(const std::string& text)
{
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(std::stoi(text.substr(0, 4)));
    for (WORD m = 0; m < 12; ++m)
        if (text.compare(5, 3, months[m]) == 0)
            time.wMonth = m + 1;
    time.wDay = static_cast<WORD>(std::stoi(text.substr(9, 2)));
    time.wHour = static_cast<WORD>(std::stoi(text.substr(12, 2)));
    time.wMinute = static_cast<WORD>(std::stoi(text.substr(15, 2)));
    time.wSecond = static_cast<WORD>(std::stoi(text.substr(18, 2)));
    const unsigned micro = text.size() > 20 ? static_cast<unsigned>(std::stoul(text.substr(21))) : 0;
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    return (std::uint64_t{file.dwHighDateTime} << 32 | file.dwLowDateTime) + micro * 10ull;
}

} // namespace crash_evidence

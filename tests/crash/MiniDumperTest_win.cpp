// The crash dump writer in a real crash: crash_probe.exe installs it as the programs do and
// crashes on request; each test runs it as a child process and reads what it left behind,
// the minidump (its header and stream directory), the log file and the exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr DWORD AccessViolation = 0xC0000005;
constexpr DWORD ProbeException = 0xE0001234;
// Wine writes a dump of a small process in a few seconds, a full-memory one in a minute or
// more on a busy machine.
constexpr DWORD ProbeTimeoutMs = 10 * 60 * 1000;

// ---------------------------------------------------------------- the minidump

// The documented layout: a 32-byte header, a directory of 12-byte entries, the streams.
constexpr std::uint32_t MinidumpSignature = 0x504D444D; // "MDMP"
constexpr std::uint32_t MemoryListStream = 5;
constexpr std::uint32_t ExceptionStream = 6;
constexpr std::uint32_t Memory64ListStream = 9;

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

Minidump ReadMinidump(const fs::path& path)
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
std::vector<LogEntry> ReadLog(const fs::path& path)
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
std::vector<LogEntry> WriterLines(const std::vector<LogEntry>& entries)
{
    std::vector<LogEntry> lines;
    for (const LogEntry& entry : entries)
        if (entry.file == "MiniDumper.cpp" || entry.file == "HeapReport.cpp" || entry.file == "Semaphore.cpp")
            lines.push_back(entry);
    return lines;
}

std::vector<LogEntry> LinesOfThread(const std::vector<LogEntry>& entries, unsigned thread)
{
    std::vector<LogEntry> lines;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(lines),
                 [thread](const LogEntry& entry) { return entry.thread == thread; });
    return lines;
}

std::string Escaped(const std::string& text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

// Each line matches its pattern, in order, and there are no others.
void ExpectLines(const std::vector<LogEntry>& lines, const std::vector<std::string>& patterns)
{
    for (std::size_t i = 0; i < std::max(lines.size(), patterns.size()); ++i) {
        const std::string text = i < lines.size() ? lines[i].text : "<no line>";
        const std::string pattern = i < patterns.size() ? patterns[i] : "<no line expected>";
        EXPECT_TRUE(std::regex_match(text, std::regex(pattern))) << "line " << i << ": '" << text
                                                                 << "'\n  expected: " << pattern;
    }
}

// The lines of a crash that wrote a normal dump named dumpName and a heap walk that ended well.
std::vector<std::string> CrashLines(const std::string& dumpName, const std::string& exceptionInfo, int dumpType)
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

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// "2024-Dec-10 14:40:12.708340" as 100-ns units of the local time.
std::uint64_t LocalTimeUnits(const std::string& text)
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

// ---------------------------------------------------------------- the probe

struct ProbeRun
{
    DWORD exitCode = 0;
    std::uint64_t exitLocalTime = 0; // 100-ns units of the local time
    bool timedOut = false;
};

fs::path ProbePath()
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / "crash_probe.exe";
}

ProbeRun RunProbe(const std::wstring& arguments, const fs::path& folder)
{
    std::wstring commandLine = L"\"" + ProbePath().wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ProbeRun run;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process)) {
        ADD_FAILURE() << "cannot start the probe: error " << GetLastError();
        return run;
    }
    if (WaitForSingleObject(process.hProcess, ProbeTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        run.timedOut = true;
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    FILETIME created, exited, kernel, user, local;
    GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
    FileTimeToLocalFileTime(&exited, &local);
    run.exitLocalTime = std::uint64_t{local.dwHighDateTime} << 32 | local.dwLowDateTime;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

struct ProbeIds
{
    unsigned installer = 0;
    std::vector<unsigned> crashes;
};

ProbeIds ReadIds(const fs::path& folder)
{
    ProbeIds ids;
    std::ifstream in(folder / "probe.txt");
    std::string what;
    unsigned id = 0;
    while (in >> what >> id) {
        if (what == "installer")
            ids.installer = id;
        else
            ids.crashes.push_back(id);
    }
    return ids;
}

std::vector<fs::path> Dumps(const fs::path& folder)
{
    std::vector<fs::path> dumps;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ".dmp")
            dumps.push_back(entry.path());
    return dumps;
}

void WriteSettings(const fs::path& file, const std::map<std::string, std::string>& values)
{
    std::ofstream out(file);
    out << "[Settings]\n";
    for (const auto& [key, value] : values)
        out << key << "=" << value << "\n";
}

class CrashDump : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // If a crash ever got past the writer, Wine's debugger must not wait for a click.
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineDbg", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr) == ERROR_SUCCESS) {
            const DWORD off = 0;
            RegSetValueExA(key, "ShowCrashDialog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
            RegCloseKey(key);
        }
        // The probe logs in the crashing thread, so every line is in the file when it ends.
        std::ofstream config(ProbePath().string() + ".log.config.ini");
        config << "[KZBLogging]\nLogQueue=0\n";
    }

    void SetUp() override
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::current_path() / "test-root" / "crash_dump_tests" / test->name();
        fs::remove_all(folder);
        fs::create_directories(folder);
    }

    // Runs the probe in the test's folder and checks that it ended by the exception.
    ProbeRun Crash(const std::wstring& arguments, DWORD expectedCode = AccessViolation)
    {
        const ProbeRun run = RunProbe(arguments, folder);
        EXPECT_FALSE(run.timedOut) << "the probe did not end";
        EXPECT_EQ(run.exitCode, expectedCode) << std::hex << "exit code 0x" << run.exitCode;
        return run;
    }

    // The one dump in dumpFolder, named "<installing thread>_KZBDKA_<tick count>.dmp".
    fs::path OneDump(const fs::path& dumpFolder)
    {
        const std::vector<fs::path> dumps = Dumps(dumpFolder);
        if (dumps.size() != 1) {
            ADD_FAILURE() << dumps.size() << " dumps in " << dumpFolder;
            return {};
        }
        const std::regex name(std::to_string(ReadIds(folder).installer) + "_KZBDKA_[0-9a-f]+\\.dmp");
        EXPECT_TRUE(std::regex_match(dumps[0].filename().string(), name)) << dumps[0].filename();
        return dumps[0];
    }

    fs::path folder;
};

std::wstring Wide(const fs::path& path)
{
    return L"\"" + path.wstring() + L"\"";
}

TEST_F(CrashDump, AccessViolationWritesTheDumpInTheLogFolderLogsEachStepAndEndsTheProcess)
{
    const fs::path logs = folder / "logs";
    const ProbeRun run = Crash(L"--log-folder " + Wide(logs) + L" --crash access-violation");
    const ProbeIds ids = ReadIds(folder);
    ASSERT_EQ(ids.crashes.size(), 1u);

    const fs::path dumpFile = OneDump(logs);
    ASSERT_FALSE(dumpFile.empty());
    const Minidump dump = ReadMinidump(dumpFile);
    EXPECT_EQ(dump.signature, MinidumpSignature);
    EXPECT_EQ(dump.flags, 0u) << "a normal dump";
    EXPECT_TRUE(dump.Has(MemoryListStream));
    EXPECT_FALSE(dump.Has(Memory64ListStream));
    EXPECT_EQ(dump.exceptionCode, AccessViolation);
    EXPECT_EQ(dump.exceptionThread, ids.crashes[0]);

    // The probe writes to address 0x10.
    char address[32];
    std::snprintf(address, sizeof address, "%llX", static_cast<unsigned long long>(dump.exceptionAddress));
    const std::string info = std::string(R"(Exception info:\n Code 0xC0000005, Address: 0x)") + address +
                             R"(, Parameter1: 1, Parameter 2: 0x10)";
    const std::vector<LogEntry> lines = WriterLines(ReadLog(logs / "KZBDKA.txt"));
    ExpectLines(lines, CrashLines(dumpFile.string(), info, 0));
    for (const LogEntry& line : lines)
        EXPECT_EQ(line.thread, ids.crashes[0]) << line.text;

    // The heap summary adds up.
    std::smatch status, remaining;
    const std::regex statusPattern(R"(Heap status: \{-5\} '' \[Blocks:(\d+), Used:(\d+), Free:(\d+), TotalSize:\d+\])");
    const auto statusLine = std::find_if(lines.begin(), lines.end(), [&](const LogEntry& line) {
        return std::regex_match(line.text, status, statusPattern);
    });
    ASSERT_NE(statusLine, lines.end());
    EXPECT_EQ(std::stoul(status[1]), std::stoul(status[2]) + std::stoul(status[3]));
    EXPECT_EQ(std::next(statusLine)->text, "Number of remaining heap blocks: " + status[1].str());

    // The process outlives the last line by the one-second sleep, and the writer adds no wait
    // of its own after it: a second sleep or a time-out would take seconds more. The upper
    // bound leaves a busy Wine five seconds to end the process.
    ASSERT_FALSE(lines.empty());
    const std::uint64_t afterLastLine = run.exitLocalTime - LocalTimeUnits(lines.back().time);
    EXPECT_GE(afterLastLine, 9'500'000u) << "100-ns units from 'Semaphore unlocked.' to the end";
    EXPECT_LT(afterLastLine, 60'000'000u) << "100-ns units from 'Semaphore unlocked.' to the end";
    std::printf("[ figures  ] exception to end %.2f s, last line to end %.2f s\n",
                (run.exitLocalTime - LocalTimeUnits(lines.front().time)) / 1e7, afterLastLine / 1e7);
}

TEST_F(CrashDump, OtherExceptionWithoutLogFolderWritesTheDumpInTheCurrentFolderWithoutExceptionInfo)
{
    Crash(L"--no-folder --crash exception", ProbeException);
    const ProbeIds ids = ReadIds(folder);
    ASSERT_EQ(ids.crashes.size(), 1u);

    const fs::path dumpFile = OneDump(folder);
    ASSERT_FALSE(dumpFile.empty());
    const Minidump dump = ReadMinidump(dumpFile);
    EXPECT_EQ(dump.signature, MinidumpSignature);
    EXPECT_EQ(dump.exceptionCode, ProbeException);
    EXPECT_EQ(dump.exceptionThread, ids.crashes[0]);
    ExpectLines(WriterLines(ReadLog(folder / "KZBDKA.txt")), CrashLines(".\\" + dumpFile.filename().string(), "", 0));
}

TEST_F(CrashDump, DisableLoggingStillWritesTheDumpWithOnlyTheSemaphoresLines)
{
    WriteSettings(folder / "MiniDumper.ini", {{"DisableLogging", "1"}});
    Crash(L"--log-folder " + Wide(folder / "logs") + L" --level 4 --crash access-violation");

    const fs::path dumpFile = OneDump(folder / "logs");
    ASSERT_FALSE(dumpFile.empty());
    EXPECT_EQ(ReadMinidump(dumpFile).signature, MinidumpSignature);
    ExpectLines(WriterLines(ReadLog(folder / "logs" / "KZBDKA.txt")), {R"(Created unnamed semaphore <DUMP_SEM>)"});
}

// "Type" from .\MiniDumper.ini (the current folder, not the log folder): 2 is a full-memory
// dump, every value but 1 and 2 a normal one; the line shows the value as read.
TEST_F(CrashDump, TypeChoosesTheDumpAndIsReportedAsRead)
{
    struct Case
    {
        const char* type;
        std::uint64_t flags;
    };
    std::map<std::string, Minidump> dumps;
    for (const Case& c : {Case{"7", 0}, Case{"2", 2}}) {
        SCOPED_TRACE(std::string("Type=") + c.type);
        const fs::path logs = folder / (std::string("logs-") + c.type);
        WriteSettings(folder / "MiniDumper.ini", {{"Type", c.type}});
        Crash(L"--log-folder " + Wide(logs) + L" --crash access-violation");
        const fs::path dumpFile = OneDump(logs);
        ASSERT_FALSE(dumpFile.empty());
        const Minidump dump = ReadMinidump(dumpFile);
        EXPECT_EQ(dump.signature, MinidumpSignature);
        EXPECT_EQ(dump.flags, c.flags);
        EXPECT_EQ(dump.exceptionCode, AccessViolation);
        const std::vector<LogEntry> lines = WriterLines(ReadLog(logs / "KZBDKA.txt"));
        const std::string written = std::string("Wrote memory dump successfully. Stopping. [DumpType:") + c.type + "]";
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const LogEntry& l) { return l.text == written; }))
            << written;
        dumps[c.type] = dump;
        fs::remove(dumpFile);
    }
    EXPECT_FALSE(dumps["7"].Has(Memory64ListStream));
    ASSERT_TRUE(dumps["2"].Has(Memory64ListStream)) << "the full-memory list";
    EXPECT_GT(dumps["2"].memory64Bytes, dumps["7"].size);
    EXPECT_GT(dumps["2"].size, dumps["7"].size);
    std::printf("[ figures  ] normal dump %ju bytes, full-memory dump %ju bytes\n", dumps["7"].size, dumps["2"].size);
}

TEST_F(CrashDump, TwoThreadsCrashingAtOnceLeaveOneDumpWhileTheOtherWaits)
{
    const fs::path logs = folder / "logs";
    Crash(L"--log-folder " + Wide(logs) + L" --crash two-threads");
    const ProbeIds ids = ReadIds(folder);
    ASSERT_EQ(ids.crashes.size(), 2u);

    const fs::path dumpFile = OneDump(logs);
    ASSERT_FALSE(dumpFile.empty());
    const Minidump dump = ReadMinidump(dumpFile);
    ASSERT_TRUE(dump.exceptionThread.has_value());
    const unsigned writer = *dump.exceptionThread;
    ASSERT_TRUE(writer == ids.crashes[0] || writer == ids.crashes[1]) << writer;
    const unsigned waiter = writer == ids.crashes[0] ? ids.crashes[1] : ids.crashes[0];

    const std::vector<LogEntry> lines = WriterLines(ReadLog(logs / "KZBDKA.txt"));
    const std::vector<LogEntry> writerLines = LinesOfThread(lines, writer);
    ASSERT_FALSE(writerLines.empty());
    ExpectLines(writerLines, CrashLines(dumpFile.string(), R"(Exception info:\n.*)", 0));

    // The other thread: detected, then timeouts naming the writer and queued lines until
    // the process ends; it never gets to write.
    const std::vector<LogEntry> waiterLines = LinesOfThread(lines, waiter);
    ASSERT_GE(waiterLines.size(), 3u);
    EXPECT_EQ(waiterLines.front().text, "Exception detected.");
    const std::regex timeout(R"(Semaphore <DUMP_SEM> timeout from \[MiniDumper\.cpp\(\d+\)\] as thread )" + Hex(writer) +
                             R"( \[MiniDumper\.cpp\(\d+\)\] has it at \[MiniDumper\.cpp\(\d+\)\])");
    std::size_t timeouts = 0, queued = 0;
    for (auto line = std::next(waiterLines.begin()); line != waiterLines.end(); ++line) {
        if (std::regex_match(line->text, timeout))
            ++timeouts;
        else if (line->text == "Multiple exceptions queued - waiting for minidump semaphore.")
            ++queued;
        else
            ADD_FAILURE() << "the waiting thread logged '" << line->text << "'";
    }
    EXPECT_GE(timeouts, 1u);
    EXPECT_GE(queued, timeouts);
    std::printf("[ figures  ] waiting thread: %zu timeouts, %zu queued lines\n", timeouts, queued);
}

// A heap block whose header was overwritten ends the walk as a bad node; the report then
// shows the bytes of the last two blocks walked, the last one first.
TEST_F(CrashDump, BadHeapNodeShowsTheLastTwoBlocks)
{
    WriteSettings(folder / "MiniDumper.ini", {{"DumpAllHeapBlocks", "1"}});
    Crash(L"--no-folder --crash corrupt-heap");
    const std::vector<LogEntry> lines = WriterLines(ReadLog(folder / "KZBDKA.txt"));

    const std::regex blockPattern(R"(  (USED|FREE) block at ([0-9A-F]{16}) of size ([0-9A-F]{4,}))");
    const std::regex statusPattern(
        R"(Heap status: \{-4\} 'Error - Bad node' \[Blocks:(\d+), Used:(\d+), Free:(\d+), TotalSize:(\d+)\])");
    struct Block
    {
        std::uint64_t address, size;
    };
    std::vector<Block> blocks;
    unsigned used = 0;
    std::uint64_t total = 0;
    auto line = std::find_if(lines.begin(), lines.end(), [](const LogEntry& l) { return l.text == "Heap information:"; });
    ASSERT_NE(line, lines.end());
    std::smatch match;
    for (++line; line != lines.end() && std::regex_match(line->text, match, blockPattern); ++line) {
        blocks.push_back({std::stoull(match[2], nullptr, 16), std::stoull(match[3], nullptr, 16)});
        used += match[1] == "USED";
        total += blocks.back().size;
    }
    ASSERT_GE(blocks.size(), 2u);
    ASSERT_NE(line, lines.end());
    ASSERT_TRUE(std::regex_match(line->text, match, statusPattern)) << line->text;
    EXPECT_EQ(std::stoul(match[1]), blocks.size());
    EXPECT_EQ(std::stoul(match[2]), used);
    EXPECT_EQ(std::stoul(match[3]), blocks.size() - used);
    EXPECT_EQ(std::stoull(match[4]), total);

    // Each shown block: its header, then rows of the address, a hexadecimal byte per line, a
    // tab, a character per byte and a line feed, 16 bytes a row and at most 128 bytes.
    const auto showBlock = [&](const Block& block, const char* header) {
        SCOPED_TRACE(header);
        ASSERT_NE(++line, lines.end());
        EXPECT_EQ(line->text, header);
        const std::uint64_t shown = std::min<std::uint64_t>(block.size, 128);
        for (std::uint64_t offset = 0; offset < shown; offset += 16) {
            const std::uint64_t count = std::min<std::uint64_t>(16, shown - offset);
            char address[32];
            std::snprintf(address, sizeof address, "%016llX\t", static_cast<unsigned long long>(block.address + offset));
            ASSERT_NE(++line, lines.end());
            EXPECT_EQ(line->text, address);
            std::vector<unsigned> bytes;
            for (std::uint64_t i = 0; i < count; ++i) {
                ASSERT_NE(++line, lines.end());
                ASSERT_TRUE(std::regex_match(line->text, std::regex("[0-9A-F]{2} "))) << line->text;
                bytes.push_back(std::stoul(line->text, nullptr, 16));
            }
            ASSERT_NE(++line, lines.end());
            EXPECT_EQ(line->text, "\t");
            for (const unsigned byte : bytes) {
                ASSERT_NE(++line, lines.end());
                const char shownAs = byte >= 0x20 && byte <= 0xA6 ? static_cast<char>(byte) : static_cast<char>(0xB7);
                EXPECT_EQ(line->text, std::string(1, shownAs));
            }
            ASSERT_NE(++line, lines.end());
            EXPECT_EQ(line->text, "\n");
        }
    };
    ASSERT_NE(blocks.back().size, 0u);
    showBlock(blocks[blocks.size() - 1], "Memory Dump:");
    showBlock(blocks[blocks.size() - 2], "\nMemory Dump:");
    ASSERT_NE(++line, lines.end());
    EXPECT_EQ(line->text, "Semaphore unlocked.");
}

// Before the start-up has recorded a log folder (here: a crash in the constructor of a
// global object, where the application object would be), the settings and the dump are in
// C:\DUMPS\. The writer is installed by then.
TEST_F(CrashDump, CrashWhileLoadingUsesTheFixedFolder)
{
    const fs::path fixed = "C:\\DUMPS";
    const bool created = fs::create_directory(fixed);
    for (const fs::path& old : Dumps(fixed))
        fs::remove(old);
    WriteSettings(fixed / "MiniDumper.ini", {{"Type", "1"}});
    WriteSettings(folder / "MiniDumper.ini", {{"Type", "0"}});

    Crash(L"--crash-while-loading");
    const ProbeIds ids = ReadIds(folder);
    ASSERT_EQ(ids.crashes.size(), 1u);
    const fs::path dumpFile = OneDump(fixed);
    if (!dumpFile.empty()) {
        const Minidump dump = ReadMinidump(dumpFile);
        EXPECT_EQ(dump.signature, MinidumpSignature);
        EXPECT_EQ(dump.flags, 1u) << "Type=1 from C:\\DUMPS\\MiniDumper.ini: data segments";
        EXPECT_EQ(dump.exceptionThread, ids.crashes[0]);
    }
    EXPECT_TRUE(Dumps(folder).empty());

    for (const fs::path& dump : Dumps(fixed))
        fs::remove(dump);
    fs::remove(fixed / "MiniDumper.ini");
    if (created)
        fs::remove(fixed);
}

} // namespace

// The crash dump writer in a real crash: crash_probe.exe installs it as the programs do and
// crashes on request; each test runs it as a child process and reads what it left behind,
// the minidump (its header and stream directory), the log file and the exit code.
#include "CrashEvidence_win.h"

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

using namespace crash_evidence;

namespace {

constexpr DWORD AccessViolation = 0xC0000005;
constexpr DWORD ProbeException = 0xE0001234;
// Wine writes a dump of a small process in a few seconds, a full-memory one in a minute or
// more on a busy machine.
constexpr DWORD ProbeTimeoutMs = 10 * 60 * 1000;

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

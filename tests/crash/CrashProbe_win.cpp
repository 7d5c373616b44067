// Installs the crash dump writer the way the programs do (the same global installer) and
// crashes on request, for the crash dump tests.
//
//   crash_probe.exe [--log-folder DIR | --no-folder] [--level N] --crash KIND
//   crash_probe.exe --crash-while-loading
//
// --log-folder / --no-folder run the program's logging start-up first (without either the
// log folder is never recorded); --level sets the log level after it. KIND is
// access-violation (a write to address 0x10), exception (code 0xE0001234), two-threads (two
// threads make access violations at once) or corrupt-heap (a heap block's header is
// overwritten, then an access violation). --crash-while-loading makes the access violation
// in a global object's constructor, before main and the logging start-up.
//
// Before crashing it appends "installer <thread id>" and "crash <thread id>" lines to
// probe.txt in the current folder.
#include "KZBLogThis.h"
#include "ui/ProgramLogging.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD ProbeExceptionCode = 0xE0001234;

void Note(const char* what, DWORD thread = GetCurrentThreadId())
{
    if (FILE* file = std::fopen("probe.txt", "a")) {
        std::fprintf(file, "%s %lu\n", what, thread);
        std::fclose(file);
    }
}

volatile std::uintptr_t g_badAddress = 0x10;

void AccessViolation()
{
    *reinterpret_cast<volatile int*>(g_badAddress) = 1;
}

HANDLE g_start;

DWORD WINAPI CrashingThread(void*)
{
    WaitForSingleObject(g_start, INFINITE);
    AccessViolation();
    return 0;
}

void TwoThreads()
{
    g_start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2];
    for (HANDLE& thread : threads) {
        DWORD id = 0;
        thread = CreateThread(nullptr, 0, &CrashingThread, nullptr, 0, &id);
        Note("crash", id);
    }
    SetEvent(g_start);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
}

unsigned char* volatile g_corruptBlock;

void CorruptHeap()
{
    // A block in use whose header no longer reads as one: the heap walk stops there.
    auto* block = static_cast<unsigned char*>(std::malloc(40));
    std::memcpy(block, "KZB heap probe: 0123456789 abcdefghij\x01\x02", 40);
    g_corruptBlock = block;
    std::memset(g_corruptBlock - 16, 0xEE, 16);
    Note("crash");
    AccessViolation();
}

// Stands for the program's application object: constructed after the writer's installer.
struct Application
{
    Application()
    {
        if (std::strstr(GetCommandLineA(), "--crash-while-loading") != nullptr) {
            Note("installer");
            Note("crash");
            AccessViolation();
        }
    }
} g_application;

} // namespace

int main(int argc, char** argv)
{
    Note("installer");
    std::string crash;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--log-folder") {
            StartProgramLogging(UseLogFolder(value));
            ++i;
        } else if (option == "--no-folder") {
            StartProgramLogging(UseLogFolder(""));
        } else if (option == "--level") {
            ::SetLogLevel(std::atoi(value), kzb::logging::ThisModule());
            ++i;
        } else if (option == "--crash") {
            crash = value;
            ++i;
        }
    }

    if (crash == "access-violation") {
        Note("crash");
        AccessViolation();
    } else if (crash == "exception") {
        Note("crash");
        RaiseException(ProbeExceptionCode, 0, 0, nullptr);
    } else if (crash == "two-threads")
        TwoThreads();
    else if (crash == "corrupt-heap")
        CorruptHeap();
    std::fputs("crash_probe: nothing crashed\n", stderr);
    return 2;
}

#include "MiniDumper.h"

#include "DumpLog.h"
#include "DumpSettings.h"
#include "HeapReport.h"
#include "Semaphore.h"
#include "comms/Thread.h"

#include <dbghelp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

char MiniDumper::s_baseName[260];

namespace {

using GetExceptionPolicy = BOOL(WINAPI*)(LPDWORD flags);
using SetExceptionPolicy = BOOL(WINAPI*)(DWORD flags);
using WriteDumpFunction = BOOL(WINAPI*)(HANDLE process, DWORD processId, HANDLE file, MINIDUMP_TYPE type,
                                        PMINIDUMP_EXCEPTION_INFORMATION exception,
                                        PMINIDUMP_USER_STREAM_INFORMATION userStreams,
                                        PMINIDUMP_CALLBACK_INFORMATION callback);
using InvalidParameterHandler = void(__cdecl*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                               std::uintptr_t);
using PureCallHandler = void(__cdecl*)();
using SetInvalidParameterHandler = InvalidParameterHandler(__cdecl*)(InvalidParameterHandler);
using SetPureCallHandler = PureCallHandler(__cdecl*)(PureCallHandler);

// Exceptions raised in callbacks from the system are swallowed while this bit is set.
constexpr DWORD CallbackFilterEnabled = 0x1;
constexpr DWORD FilterSleepMs = 1000;
// As long as a semaphore wait that timed out.
constexpr DWORD QueuedWaitMs = 100;

template <typename Function>
Function Lookup(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

MINIDUMP_TYPE DumpTypeFor(int setting)
{
    switch (setting) {
    case 1:
        return MiniDumpWithDataSegs;
    case 2:
        return MiniDumpWithFullMemory;
    default:
        return MiniDumpNormal;
    }
}

// Created by the first crashing thread, so nothing is made for a process that never crashes.
KZB_SEMAPHORE::CSemaphore& DumpSemaphore()
{
    static KZB_SEMAPHORE::CSemaphore semaphore("DUMP_SEM");
    return semaphore;
}

// One dump per process. The run that writes it ends the process when it returns; a thread
// that gets the semaphore after that run released it waits like the others instead of
// writing a second dump that the ending process would cut short.
std::atomic<bool> g_dumpTaken{false};

bool LockForDump(KZB_SEMAPHORE::CSemaphore& semaphore)
{
    if (!semaphore.Lock(__FILE__, __LINE__))
        return false;
    if (!g_dumpTaken.exchange(true))
        return true;
    semaphore.Unlock(__FILE__, __LINE__);
    Sleep(QueuedWaitMs);
    return false;
}

} // namespace

void MiniDumper::Install()
{
    std::snprintf(s_baseName, sizeof s_baseName, "%u_%s", static_cast<unsigned>(kzb::CurrentThreadId()), "KZBDKA");

    if (HMODULE kernel = LoadLibraryA("kernel32.dll")) {
        const auto getPolicy = Lookup<GetExceptionPolicy>(kernel, "GetProcessUserModeExceptionPolicy");
        const auto setPolicy = Lookup<SetExceptionPolicy>(kernel, "SetProcessUserModeExceptionPolicy");
        DWORD flags = 0;
        if (getPolicy != nullptr && setPolicy != nullptr && getPolicy(&flags))
            setPolicy(flags & ~CallbackFilterEnabled);
        FreeLibrary(kernel);
    }

    SetUnhandledExceptionFilter(&MiniDumper::TopLevelFilter);
    InstallRuntimeHandlers();
}

void MiniDumper::InstallRuntimeHandlers()
{
#if defined(_UCRT)
    _set_invalid_parameter_handler(&MiniDumper::HandleInvalidCRTParameter);
    _set_purecall_handler(&MiniDumper::HandlePureCall);
#else
    // MinGW's own _set_invalid_parameter_handler and _set_purecall_handler for msvcrt.dll only
    // keep the pointer; msvcrt.dll calls what its own exports were given, where it has them.
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    if (runtime == nullptr)
        return;
    if (const auto set = Lookup<SetInvalidParameterHandler>(runtime, "_set_invalid_parameter_handler"))
        set(&MiniDumper::HandleInvalidCRTParameter);
    if (const auto set = Lookup<SetPureCallHandler>(runtime, "_set_purecall_handler"))
        set(&MiniDumper::HandlePureCall);
#endif
}

void __cdecl MiniDumper::HandleInvalidCRTParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                                   std::uintptr_t)
{
    AGENT_LOG(kzb::log::Error, "HandleInvalidCRTParameter a C runtime function was called with invalid parameters\n");
}

void __cdecl MiniDumper::HandlePureCall()
{
    AGENT_LOG(kzb::log::Error, "HandlePureCall a virtual function called from a constructor or destructor\n");
}

namespace {

// The thread writing a report now: a fault of its own while it reports (a heap too broken to
// walk) comes back into the filter, where waiting for the semaphore it holds would never end.
std::atomic<DWORD> s_reportingThread{0};

} // namespace

LONG WINAPI MiniDumper::TopLevelFilter(EXCEPTION_POINTERS* exception)
{
    const DumpSettings settings;
    const bool loggingOn = settings.Read("DisableLogging") == 0;
    if (s_reportingThread.load() == kzb::CurrentThreadId()) {
        DUMP_LOG(loggingOn, "Exception while writing the report: the report ends here.\n");
        DumpSemaphore().Unlock(__FILE__, __LINE__);
        DUMP_LOG(loggingOn, "Semaphore unlocked.\n");
        Sleep(FilterSleepMs);
        return EXCEPTION_EXECUTE_HANDLER;
    }
    DUMP_LOG(loggingOn, "Exception detected.\n");

    KZB_SEMAPHORE::CSemaphore& semaphore = DumpSemaphore();
    while (!LockForDump(semaphore))
        DUMP_LOG(loggingOn, "Multiple exceptions queued - waiting for minidump semaphore.\n");
    DUMP_LOG(loggingOn, "Semaphore locked.\n");

    const EXCEPTION_RECORD* record = exception != nullptr ? exception->ExceptionRecord : nullptr;
    if (record != nullptr && record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
        const auto parameter = [record](DWORD index) {
            return index < record->NumberParameters ? record->ExceptionInformation[index] : 0;
        };
        DUMP_LOG(loggingOn, "Exception info:\n Code 0x%X, Address: 0x%llX, Parameter1: %i, Parameter 2: 0x%llX\n",
                 static_cast<unsigned>(record->ExceptionCode),
                 static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(record->ExceptionAddress)),
                 static_cast<int>(parameter(0)), static_cast<unsigned long long>(parameter(1)));
    }

    s_reportingThread = kzb::CurrentThreadId();
    WriteDump(exception, settings, loggingOn);
    HeapReport(settings, loggingOn).Write();
    s_reportingThread = 0;

    semaphore.Unlock(__FILE__, __LINE__);
    DUMP_LOG(loggingOn, "Semaphore unlocked.\n");
    // Time for the logger's writer thread to write what was queued.
    Sleep(FilterSleepMs);
    return EXCEPTION_EXECUTE_HANDLER;
}

void MiniDumper::WriteDump(EXCEPTION_POINTERS* exception, const DumpSettings& settings, bool loggingOn)
{
    DUMP_LOG(loggingOn, "Looking for MiniDump DLL\n");
    HMODULE dbghelp = LoadLibraryA("DBGHELP.DLL");
    if (dbghelp == nullptr) {
        DUMP_LOG(loggingOn, "Error: DBGHELP.DLL not found. [Error:%u]\n", static_cast<unsigned>(GetLastError()));
        return;
    }
    DUMP_LOG(loggingOn, "Loaded MiniDump DLL.\n");
    const auto writeDump = Lookup<WriteDumpFunction>(dbghelp, "MiniDumpWriteDump");
    if (writeDump == nullptr) {
        DUMP_LOG(loggingOn, "Error: DBGHELP.DLL too old.\n");
        FreeLibrary(dbghelp);
        return;
    }
    DUMP_LOG(loggingOn, "Found dump function\n");

    // A name longer than the buffer is cut to fit.
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%s%s_%x.dmp", DumpSettings::DumpFolder(), s_baseName,
                  static_cast<unsigned>(GetTickCount()));
    DUMP_LOG(loggingOn, "Trying to create dump file %s\n", name);
    HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DUMP_LOG(loggingOn, "Failed to create dump file '%s' [Error:%u]\n", name,
                 static_cast<unsigned>(GetLastError()));
        FreeLibrary(dbghelp);
        return;
    }
    DUMP_LOG(loggingOn, "Opened dump file.\n");

    const int type = settings.Read("Type");
    MINIDUMP_EXCEPTION_INFORMATION information{kzb::CurrentThreadId(), exception, FALSE};
    if (writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, DumpTypeFor(type),
                  exception != nullptr ? &information : nullptr, nullptr, nullptr))
        DUMP_LOG(loggingOn, "Wrote memory dump successfully. Stopping. [DumpType:%d]\n", type);
    else
        DUMP_LOG(loggingOn, "Failed to save dump file to '%s' [Error:%u, DumpType:%d]\n", name,
                 static_cast<unsigned>(GetLastError()), type);
    CloseHandle(file);
    FreeLibrary(dbghelp);
}

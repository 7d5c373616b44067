#pragma once

#include <windows.h>

#include <cstdint>

class DumpSettings;

// When an exception goes unhandled: writes a minidump of the process, logs what it did and a
// summary of the runtime's heap, and lets the process end. Also logs the runtime library's
// invalid-parameter and pure-call errors. Installed once, while the program loads
// (InstallMiniDumper.cpp).
class MiniDumper
{
public:
    static void Install();

    // The unhandled-exception filter; exception may be null.
    static LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* exception);

private:
    static void __cdecl HandleInvalidCRTParameter(const wchar_t* expression, const wchar_t* function,
                                                  const wchar_t* file, unsigned int line, std::uintptr_t reserved);
    static void __cdecl HandlePureCall();
    static void InstallRuntimeHandlers();
    // Writes the dump file; every step and failure is logged.
    static void WriteDump(EXCEPTION_POINTERS* exception, const DumpSettings& settings, bool loggingOn);

    // "<installing thread id>_KZBDKA"
    static char s_baseName[260];
};

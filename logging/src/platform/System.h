// Operating-system services of the library: modules, folders, clock conversion, debugger,
// system error texts. System_win.cpp and System_posix.cpp implement them.
#pragma once

#include "KZBLogging.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace kzb::logging::platform {

// The file of a loaded module; empty when the system knows no module for the handle.
// A null handle means the executable, as on Windows.
std::filesystem::path ModuleFileName(ModuleHandle module);
std::filesystem::path ExecutableFileName();

// The folder that stands for "C:\": the fixed folders "C:\QVN\..." live below it.
// Natively it is $KZB_ROOT, else $HOME/.kzb, else /var/lib/kzb.
std::filesystem::path FixedRoot();

// Paths as the narrow strings of the configuration files (the ANSI code page on Windows).
std::string NarrowFromPath(const std::filesystem::path& path);
std::filesystem::path PathFromNarrow(const std::string& text);

bool ToLocalTime(std::time_t time, std::tm& out);
bool ToUtcTime(std::time_t time, std::tm& out);

std::uint32_t CurrentThreadId();

// A local debugger, or a remote one the system reports for this process.
bool DebuggerAttached();
// Hands a valid UTF-8 line to the debugger's output (stderr natively).
void DebugOutput(const std::string& utf8Line);

// The system's text for an error code (US English on Windows), if it has one.
std::optional<std::string> SystemErrorText(std::uint32_t code);

// True while the process is being torn down after its other threads were killed
// (Windows process exit); then nothing may wait for a thread.
bool ProcessTerminating();

} // namespace kzb::logging::platform

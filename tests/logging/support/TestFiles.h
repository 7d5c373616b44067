// Files and folders for the logging tests.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// The folder that stands for "C:\" (natively $KZB_ROOT, which ctest sets per test program).
std::filesystem::path FixedRoot();
// "<root>QVN\Config\logging" and "<root>QVN\DEBUG.ON", as the library uses them.
std::filesystem::path FixedConfigFolder();
std::filesystem::path DebugSwitch();
// Removes "<root>QVN" so that every test starts without configuration or debug switch.
void ResetFixedRoot();

// A fresh, empty folder for the running test.
std::filesystem::path ScratchFolder();

std::string ReadText(const std::filesystem::path& file);
// The lines of a file without their line ends (LF or CR LF).
std::vector<std::string> ReadLines(const std::filesystem::path& file);
void WriteText(const std::filesystem::path& file, const std::string& text);
bool Contains(const std::vector<std::string>& lines, const std::string& part);
std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& part);

// Polls until condition holds or timeout passes; true when it held.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(2));

// The file name of a loaded module, found independently of the library.
std::filesystem::path ModuleFile(void* module);

// Removes the per-module configuration files next to a module.
void RemoveConfigBeside(const std::filesystem::path& moduleFile);
std::filesystem::path AppendedConfig(const std::filesystem::path& moduleFile);  // <file>.log.config.ini
std::filesystem::path ReplacedConfig(const std::filesystem::path& moduleFile);  // <name>.log.config

} // namespace testing_support

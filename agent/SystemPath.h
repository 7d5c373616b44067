#pragma once

#include <filesystem>
#include <string>

// A path from narrow text that the system gave (registry values, environment variables,
// folders it names, the command line). On Windows that text is in the ANSI code page; a
// path made straight from the string would be converted by the C runtime's own rules,
// which may differ from it or fail.
std::filesystem::path PathFromSystemText(const std::string& text);

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// kzbdka-cli [--recorder ADDRESS]... [--port N] [--desktop FILE] [--settings FILE] [--log-dir DIR]
struct CliOptions
{
    std::vector<std::string> recorders; // replace "RecorderAddress" when given
    std::optional<std::uint16_t> port;
    std::string desktopFile;
    std::string settingsFile;
    std::string logFolder;
};

// The options, or the reason they are wrong in error.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments, std::string& error);

extern const char* const CliUsage;

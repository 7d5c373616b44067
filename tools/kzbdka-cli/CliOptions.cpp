#include "CliOptions.h"

#include <charconv>

const char* const CliUsage =
    "usage: kzbdka-cli [--recorder ADDRESS]... [--port N] [--desktop FILE] [--settings FILE] [--log-dir DIR]";

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments, std::string& error)
{
    CliOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name != "--recorder" && name != "--port" && name != "--desktop" && name != "--settings" &&
            name != "--log-dir") {
            error = "unknown option '" + name + "'";
            return std::nullopt;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
            error = "option " + name + " needs a value";
            return std::nullopt;
        }
        const std::string& value = arguments[++i];
        if (name == "--recorder") {
            options.recorders.push_back(value);
        } else if (name == "--port") {
            unsigned port = 0;
            const auto [end, result] = std::from_chars(value.data(), value.data() + value.size(), port);
            if (result != std::errc() || end != value.data() + value.size() || port == 0 || port > 65535) {
                error = "port '" + value + "' is not a number from 1 to 65535";
                return std::nullopt;
            }
            options.port = static_cast<std::uint16_t>(port);
        } else if (name == "--desktop") {
            options.desktopFile = value;
        } else if (name == "--settings") {
            options.settingsFile = value;
        } else {
            options.logFolder = value;
        }
    }
    return options;
}

#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CMainFrameCore;

// One line of the headless agent's standard input.
struct ConsoleCommand
{
    enum class Kind
    {
        None, // a blank line
        Annotate,
        SuppressStart,
        SuppressStop,
        Keep,
        Discard,
        Inspections, // how many desktop inspections the agent has made
        Quit,
        Invalid,
    };

    Kind kind = Kind::None;
    std::vector<std::pair<std::uint32_t, std::string>> values; // annotate: field ID and value
    std::string error;                                          // invalid: why
};

ConsoleCommand ParseConsoleCommand(const std::string& line);

// Carries out a command on the agent's dialogs (the user-interface thread); the line to
// print ("ok: ..." or "error: ..."), empty for none.
std::string ExecuteConsoleCommand(CMainFrameCore& core, const ConsoleCommand& command);

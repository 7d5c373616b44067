// What the recorder sessions are configured with, as the program read it at start.
#pragma once

#include "comms/ConnectionSettings.h"

#include <cstdint>
#include <string>
#include <vector>

struct RecorderSettings
{
    std::vector<std::string> addresses; // every address given; at most two are used
    std::string updateMode;
    bool updateModeSet = false;
    std::uint16_t port = DefaultRecorderPort;
    ConnectionSettings connection;
    // The Citrix client name, when one is found, is the workstation's host name.
    bool terminalNaming = false;
};

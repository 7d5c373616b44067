#pragma once

#include <string>

// Where the program's log file and crash dumps go.
struct LogFolder
{
    std::string folder;    // ends with the path separator; empty when none was found
    bool noFolder = false; // none found: the current folder is used
};

// "LogPath" of the current user, else of the local machine, else the folder KZBDKA under
// the user's Documents folder (created when missing).
LogFolder FindLogFolder();
// A folder given explicitly (created when missing; one level).
LogFolder UseLogFolder(const std::string& folder);

// Sets up the program's logger with KZBDKA.txt in the folder, applies the saved log level
// and writes the start lines.
void StartProgramLogging(const LogFolder& folder);
// Writes out everything queued and stops the program's logger.
void StopProgramLogging();

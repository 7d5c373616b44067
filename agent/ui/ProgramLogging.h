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

// Records the folder, sets up the program's logger with KZBDKA.txt in the folder, applies
// the saved log level and writes the start lines.
void StartProgramLogging(const LogFolder& folder);

// The folder StartProgramLogging recorded, for the crash dump writer: set once, by the first
// call; until then the folder is empty and the flag clear. Reading allocates nothing and
// takes no lock, so a failing thread can still read it.
struct LogFolderRecord
{
    const char* folder; // at most 259 characters; "" when none was found
    bool noFolder;
};
LogFolderRecord RecordedLogFolder();

// Writes out everything queued and stops the program's logger.
void StopProgramLogging();

#pragma once

// Where the crash dump writer finds "MiniDumper.ini" and puts the dumps, from the log
// folder the start-up recorded. Until the start-up has recorded one, both are C:\DUMPS\.
class DumpSettings
{
public:
    // Fixes the settings file's path: .\MiniDumper.ini once the log folder is recorded.
    DumpSettings();

    // A number of section "Settings"; 0 when the file or the key is missing. Read from the
    // file at each call.
    int Read(const char* key) const;

    // The recorded log folder, else ".\" with the no-folder flag, else C:\DUMPS\.
    static const char* DumpFolder();

private:
    char m_path[260];
};

#include "DumpSettings.h"

#include "ui/ProgramLogging.h"

#include <windows.h>

#include <cstdio>

namespace {
constexpr const char* FallbackFolder = "C:\\DUMPS\\";
constexpr const char* CurrentFolder = ".\\";
constexpr const char* FileName = "MiniDumper.ini";
} // namespace

DumpSettings::DumpSettings()
{
    const LogFolderRecord record = RecordedLogFolder();
    if (record.folder[0] != '\0' || record.noFolder)
        std::snprintf(m_path, sizeof m_path, ".\\%s", FileName);
    else
        std::snprintf(m_path, sizeof m_path, "%s%s", FallbackFolder, FileName);
}

int DumpSettings::Read(const char* key) const
{
    return static_cast<int>(GetPrivateProfileIntA("Settings", key, 0, m_path));
}

const char* DumpSettings::DumpFolder()
{
    const LogFolderRecord record = RecordedLogFolder();
    if (record.folder[0] != '\0')
        return record.folder;
    return record.noFolder ? CurrentFolder : FallbackFolder;
}

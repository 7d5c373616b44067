// Feeds arbitrary bytes as the settings file of the native build (the stand-in for the
// registry): every value the program reads is read as it reads it, then the values it writes
// are written and must read back. A damaged file must never crash or throw out of the store.
#include "InputFile.h"
#include "ui/Registry.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using Root = CRegistry::Root;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The store reads the file its variable names: each input is written there.
    ::setenv("KZB_REGISTRY_FILE", fuzz::MakeInputFile("settings").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::WriteInputFile(data, size);

    // A number and a text from each hive, as the program reads them (every read parses the
    // whole file again, so more names would add time, not paths).
    CRegistry registry;
    (void)registry.ReadNumber(Root::CurrentUser, "WindowLeft", 7);
    (void)registry.ReadNumber(Root::LocalMachine, "TerminalNaming", 0);
    std::string text;
    for (const auto& [root, name] : {std::pair{Root::CurrentUser, "LogPath"}, std::pair{Root::LocalMachine, "LogPath"}}) {
        if (registry.ReadText(root, name, text, 16) && text.size() >= 16)
            std::abort();
    }

    // What the program writes to its key, whatever the file held, reads back.
    CRegistry writer;
    if (!writer.OpenProgramKeyForWriting())
        return 0;
    if (writer.SetNumber("WindowLeft", 1234) && registry.ReadNumber(Root::CurrentUser, "WindowLeft", 7) != 1234)
        std::abort();
    if (writer.SetText("LogPath", "C:\\logs\\") &&
        (!registry.ReadText(Root::CurrentUser, "LogPath", text, 260) || text != "C:\\logs\\"))
        std::abort();
    (void)writer.DeleteValue("ShowWindow");
    return 0;
}

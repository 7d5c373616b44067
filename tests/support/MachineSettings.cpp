#include "MachineSettings.h"

#include "ui/Registry.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

void UseTestSettingsStore()
{
#ifndef _WIN32
    static const std::string file =
        (std::filesystem::temp_directory_path() / ("kzb-registry-" + std::to_string(::getpid()) + ".json")).string();
    ::setenv("KZB_REGISTRY_FILE", file.c_str(), 1);
#endif
}

void SetMachineText(const std::string& valueName, const std::string& value)
{
    CRegistry registry;
    if (!registry.CreateKey(CRegistry::Root::LocalMachine, ProgramRegistryKey) || !registry.SetText(valueName, value))
        throw std::runtime_error("cannot write " + valueName + ": error " + std::to_string(registry.GetLastError()));
}

void ClearMachineValue(const std::string& valueName)
{
    CRegistry registry;
    if (registry.CreateKey(CRegistry::Root::LocalMachine, ProgramRegistryKey))
        registry.DeleteValue(valueName);
}

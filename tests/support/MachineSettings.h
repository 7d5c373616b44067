#pragma once

#include <string>

// The program's settings as tests set them. Natively the settings file is one of this test
// process (under the temp folder); on Windows it is the registry itself.
void UseTestSettingsStore();
void SetMachineText(const std::string& valueName, const std::string& value);
void ClearMachineValue(const std::string& valueName);

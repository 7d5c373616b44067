#pragma once

#include <string>

// The product version of this program, from its version resource on Windows and from the
// build natively; "???" when it cannot be read.
class VersionInfoStore
{
public:
    VersionInfoStore();

    const char* GetVersion() const { return m_version; }

    static constexpr std::size_t VersionSize = 12;

private:
    // Keeps text when it fits the field with its terminator.
    void Store(const std::string& text);

    char m_version[VersionSize] = "???";
};

// What a recorder connection is configured with. The program reads it once at start and
// hands it down; the connection itself reads no settings.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::uint16_t DefaultRecorderPort = 6471;

struct ConnectionSettings
{
    // A client certificate (chain and key in one file) makes every connection TLS.
    std::string certificatePath;
    std::string certificatePassword;
    // The authorities the recorder's certificate is checked against; none: not checked.
    std::string authorityPath;
};

#pragma once

// The system calls behind Identity.cpp: Identity_win.cpp on Windows, Identity_posix.cpp
// natively. GetEnvironmentVariableValue lives there too.

#include <cstdint>
#include <string>

namespace kzb::identity {

// The system's message for code as FormatMessageA gives it, line end included; false when
// the system has no text for the code.
bool SystemMessage(std::uint32_t code, std::string& text);

// The computer's host name from gethostname; empty, with an ERROR line, when that fails.
std::string SystemHostName();

// The login name; false, with the system's error code, when it cannot be read.
bool SystemUserName(std::string& name, unsigned long& error);

} // namespace kzb::identity

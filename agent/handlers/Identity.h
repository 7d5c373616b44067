#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kzb::windows {

// A failed Windows call: the system's text for the code, then " (0x<CODE>)".
class error : public std::runtime_error
{
public:
    explicit error(std::uint32_t code);
    std::uint32_t code() const { return m_code; }

private:
    std::uint32_t m_code;
};

} // namespace kzb::windows

// The workstation as the recorder sees it. Failures degrade to empty texts with a log line.
// The host name: with terminal naming the Citrix client name when one is found, otherwise
// the computer's host name.
std::string DetermineHostName(bool terminalNaming);
// The Windows login name; empty, with an ERROR line, when it cannot be read.
std::string DetermineUserName();
// The same without the line.
std::string QueryUserName();
// The Citrix client name from the registry, WFCName.ini or CLIENTNAME; empty when none.
std::string GetCitrixTerminalName();
// The value of an environment variable; throws kzb::windows::error when it is not set.
std::string GetEnvironmentVariableValue(const std::string& name);

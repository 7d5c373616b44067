// Sends every message as one UDP datagram to the syslog server of the configuration.
#pragma once

#include "Config.h"
#include "KZBLogging.h"
#include "platform/Sockets.h"

#include <string>

namespace kzb::logging {

class SyslogAppender final : public ILogAppender
{
public:
    // config outlives the appender (it is the process's one syslog configuration).
    SyslogAppender(ModuleHandle module, SyslogConfig& config);

    // Failures (lookup, connect, send) lose the datagram silently.
    void Write(const ILogMessage& message) override;

    const std::string& HostName() const { return m_host; }
    const std::string& ApplicationName() const { return m_application; }

private:
    SyslogConfig& m_config;
    // Opened first: on Windows the host name needs the sockets layer.
    platform::Sockets m_sockets;
    std::string m_host;
    std::string m_application;
};

// The host name or application name as a syslog field: no spaces, at most maxLength
// characters, "-" when empty.
std::string SyslogField(std::string text, std::size_t maxLength);

} // namespace kzb::logging

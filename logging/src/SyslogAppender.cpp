#include "SyslogAppender.h"

#include "LogLine.h"
#include "platform/System.h"

#include <algorithm>

namespace kzb::logging {

std::string SyslogField(std::string text, std::size_t maxLength)
{
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    if (text.size() > maxLength)
        text.resize(maxLength);
    return text.empty() ? "-" : text;
}

SyslogAppender::SyslogAppender(ModuleHandle module, SyslogConfig& config)
    : m_config(config),
      m_host(SyslogField(m_sockets.HostName(), std::string::npos)),
      m_application(SyslogField(platform::NarrowFromPath(platform::ModuleFileName(module).stem()), 32))
{
}

void SyslogAppender::Write(const ILogMessage& message)
{
    const std::string datagram = MakeSyslogDatagram(message, m_host, m_application);
    m_sockets.SendDatagram(m_config.Address(), std::to_string(m_config.Port()), datagram);
}

} // namespace kzb::logging

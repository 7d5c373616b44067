// The text forms of a message: the log line of the file and debug-output appenders and
// the syslog datagram.
#pragma once

#include "KZBLogging.h"

#include <string>
#include <string_view>

namespace kzb::logging {

// "File(Line): (TID 0F2C) YYYY-Mon-DD HH:MM:SS.ffffff [LEVEL] - text" and a line feed.
void AppendLogLine(std::string& out, const ILogMessage& message);
std::string MakeLogLine(const ILogMessage& message);

// "<priority>Mon DD HH:MM:SS host app: File(Line): (TID 0F2C) text", at most 1024 characters.
std::string MakeSyslogDatagram(const ILogMessage& message, std::string_view host, std::string_view application);

// Facility 16 (local0) plus the severity of the level.
int SyslogPriority(std::int32_t level);

inline constexpr std::size_t kMaxDatagram = 1024;

} // namespace kzb::logging

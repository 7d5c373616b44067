#include "LogLine.h"

#include "Digits.h"
#include "Level.h"
#include "TimeText.h"

namespace kzb::logging {
namespace {

std::string_view Safe(const char* text)
{
    return text != nullptr ? std::string_view(text) : std::string_view();
}

// "File(Line): (TID 0F2C) ", shared by the log line and the datagram.
void AppendOrigin(std::string& out, const ILogMessage& message)
{
    out += Safe(message.File());
    out += '(';
    AppendDecimal(out, message.Line());
    out += "): (TID ";
    AppendHex(out, message.ThreadId(), 4);
    out += ") ";
}

// YYYY-Mon-DD HH:MM:SS with the fraction only when it is not zero. A time that does not
// read as ours (a message of another class) is copied as it is.
void AppendLineTime(std::string& out, const char* localTime)
{
    const auto time = ParseIsoTime(Safe(localTime));
    if (!time) {
        out += Safe(localTime);
        return;
    }
    AppendZeroPadded(out, static_cast<unsigned>(time->year), 4);
    out += '-';
    out += MonthAbbreviation(time->month);
    out += '-';
    AppendZeroPadded(out, static_cast<unsigned>(time->day), 2);
    out += ' ';
    AppendZeroPadded(out, static_cast<unsigned>(time->hour), 2);
    out += ':';
    AppendZeroPadded(out, static_cast<unsigned>(time->minute), 2);
    out += ':';
    AppendZeroPadded(out, static_cast<unsigned>(time->second), 2);
    if (time->microsecond != 0) {
        out += '.';
        AppendZeroPadded(out, static_cast<unsigned>(time->microsecond), 6);
    }
}

// "Mon DD HH:MM:SS" with the day filled with a space.
void AppendSyslogTime(std::string& out, const char* localTime)
{
    const auto time = ParseIsoTime(Safe(localTime));
    if (!time) {
        out += Safe(localTime);
        return;
    }
    out += MonthAbbreviation(time->month);
    out += ' ';
    if (time->day < 10)
        out += ' ';
    AppendZeroPadded(out, static_cast<unsigned>(time->day), 1);
    out += ' ';
    AppendZeroPadded(out, static_cast<unsigned>(time->hour), 2);
    out += ':';
    AppendZeroPadded(out, static_cast<unsigned>(time->minute), 2);
    out += ':';
    AppendZeroPadded(out, static_cast<unsigned>(time->second), 2);
}

} // namespace

void AppendLogLine(std::string& out, const ILogMessage& message)
{
    AppendOrigin(out, message);
    AppendLineTime(out, message.LocalTime());
    out += " [";
    out += LevelName(message.Level());
    out += "] - ";
    out += Safe(message.Text());
    out += '\n';
}

std::string MakeLogLine(const ILogMessage& message)
{
    std::string line;
    AppendLogLine(line, message);
    return line;
}

int SyslogPriority(std::int32_t level)
{
    static constexpr int kSeverity[] = {3, 5, 4, 6, 6, 7};
    const int severity = level >= 0 && level <= 5 ? kSeverity[level] : 4;
    return 16 * 8 + severity;
}

std::string MakeSyslogDatagram(const ILogMessage& message, std::string_view host, std::string_view application)
{
    std::string datagram;
    datagram += '<';
    AppendDecimal(datagram, SyslogPriority(message.Level()));
    datagram += '>';
    AppendSyslogTime(datagram, message.LocalTime());
    datagram += ' ';
    datagram += host;
    datagram += ' ';
    datagram += application;
    datagram += ": ";
    AppendOrigin(datagram, message);
    datagram += Safe(message.Text());
    if (datagram.size() > kMaxDatagram) {
        datagram.resize(kMaxDatagram - 3);
        datagram += "...";
    }
    return datagram;
}

} // namespace kzb::logging

#pragma once

#include "RecorderStatusTable.h"

#include <cstdint>
#include <ctime>
#include <string>

// "KZB Voralis", with " - " and the call state of the recorders when there is one.
std::string BuildStatusTitle(const RecorderStatusTable& table);

// The names of the set call-state bits: "Recording, Suppressing"; "Idle" for none.
std::string CallStateText(std::uint32_t callState);

// The record on demand dialog's state text.
std::string RecordOnDemandStateText(const RecorderStatusTable& table);

// The status dialog's text of problems: unreachable recorders, configuration errors and
// differences between the two recorders. Differences of call state and of record on demand
// state are reported only once they have lasted the report delay.
class StatusReport
{
public:
    explicit StatusReport(bool autoSuppressionMessages) : m_autoSuppressionMessages(autoSuppressionMessages) {}

    void SetReportDelay(std::uint32_t seconds) { m_reportDelay = seconds; }

    // Brings the text up to date with the table; true when it changed.
    bool Update(const RecorderStatusTable& table, const std::string& updateMode, std::time_t now);
    const std::string& Text() const { return m_text; }
    // The earliest difference that becomes reportable after now (its message is merged at
    // the first Update later than it); 0 when none is waiting.
    std::time_t NextDeadline(std::time_t now) const;

private:
    std::string Build(const std::string& updateMode, std::time_t now);
    bool Unchanged(const RecorderStatusTable::Entries& entries) const;

    bool m_autoSuppressionMessages;
    std::uint32_t m_reportDelay = 2;
    std::time_t m_callStateDeadline = 0;
    std::time_t m_recordOnDemandDeadline = 0;
    RecorderStatusTable::Entries m_snapshot;
    std::string m_text;
};

// Adds message to text, or replaces the line that starts with the same key (the message up
// to its first apostrophe or opening parenthesis). True when text changed.
bool MergeStatusMessage(std::string& text, std::string message);

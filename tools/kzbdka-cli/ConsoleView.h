#pragma once

#include "ui/StatusText.h"

#include <ctime>
#include <functional>
#include <map>
#include <string>

class CMainFrameCore;

// What the headless agent shows, as lines on a console: each refresh prints the lines
// whose value changed since the last one ("title: ...", "status: ...", and so on).
class ConsoleView
{
public:
    using Output = std::function<void(const std::string& line)>;

    ConsoleView(CMainFrameCore& core, bool autoSuppressionMessages, Output output);

    // Brings every shown value up to date; prints what changed.
    void Refresh(std::time_t now);
    // When the status text shown changes by the clock alone (0: not before the next change).
    std::time_t NextDeadline(std::time_t now) const { return m_statusReport.NextDeadline(now); }

private:
    void Show(const std::string& key, const std::string& value);

    CMainFrameCore& m_core;
    StatusReport m_statusReport;
    Output m_output;
    std::map<std::string, std::string> m_shown;
};

// The annotation configuration in one line: "<id> <name> (text <max>)" or
// "<id> <name> (buttons <label>|<label>)", separated by "; ".
class FieldDetails;
std::string DescribeAnnotationFields(const std::vector<FieldDetails>& fields);
// Line feeds as the two characters \n, carriage returns dropped.
std::string EscapeLineFeeds(const std::string& text);

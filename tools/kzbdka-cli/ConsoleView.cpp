#include "ConsoleView.h"

#include "Config/AnnotationTypes.h"
#include "ui/MainFrameCore.h"

#include <vector>

namespace {

const char* ConnectionName(std::uint32_t status)
{
    switch (status) {
    case ConnectionStatus::NotStarted:
        return "not-started";
    case ConnectionStatus::InvalidAddress:
        return "invalid-address";
    case ConnectionStatus::NotConnected:
        return "not-connected";
    case ConnectionStatus::InvalidConfiguration:
        return "invalid-configuration";
    case ConnectionStatus::NoLongerAttempting:
        return "stopped";
    case ConnectionStatus::Connected:
        return "connected";
    default:
        return "unknown";
    }
}

} // namespace

std::string EscapeLineFeeds(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '\n')
            escaped += "\\n";
        else if (c != '\r')
            escaped += c;
    }
    return escaped;
}

std::string DescribeAnnotationFields(const std::vector<FieldDetails>& fields)
{
    std::string text;
    for (const FieldDetails& field : fields) {
        if (!text.empty())
            text += "; ";
        text += std::to_string(field.GetFieldID()) + " " + field.GetFieldName() + " (";
        const AnnotationType* input = field.GetAnnotationType();
        if (const auto* freeText = dynamic_cast<const FreeTextEntry*>(input)) {
            text += "text " + std::to_string(freeText->GetMaxLength());
        } else if (const auto* buttons = dynamic_cast<const PushButton*>(input)) {
            text += "buttons ";
            bool first = true;
            for (const PushButtonData& button : buttons->GetButtons()) {
                text += (first ? "" : "|") + button.GetLabel();
                first = false;
            }
        } else {
            text += "no input";
        }
        text += ")";
    }
    return text;
}

ConsoleView::ConsoleView(CMainFrameCore& core, bool autoSuppressionMessages, Output output)
    : m_core(core), m_statusReport(autoSuppressionMessages), m_output(std::move(output))
{
}

void ConsoleView::Show(const std::string& key, const std::string& value)
{
    const auto shown = m_shown.find(key);
    if (shown != m_shown.end() && shown->second == value)
        return;
    m_shown[key] = value;
    m_output(key + ": " + value);
}

void ConsoleView::Refresh(std::time_t now)
{
    RecorderStatusTable& table = m_core.GetStatusTable();
    Show("title", BuildStatusTitle(table));

    m_statusReport.SetReportDelay(table.SmallestStateTimeout());
    m_statusReport.Update(table, m_core.GetUpdateMode(), now);
    Show("status", EscapeLineFeeds(m_statusReport.Text()));

    for (const auto& [recorder, entry] : table.GetEntries()) {
        const std::string number = std::to_string(recorder);
        Show("connection " + number, ConnectionName(entry.connectionStatus));
        Show("auto suppression " + number,
             entry.autoSuppressionState == 2 ? "on " + EscapeLineFeeds(entry.autoSuppressionTrigger) : std::string("off"));
    }

    CAnnotationDialogModel& annotation = *m_core.GetAnnotationDialog();
    annotation.UpdateLayout();
    const std::vector<FieldDetails>* fields = annotation.Current();
    Show("annotation", fields ? DescribeAnnotationFields(*fields) : std::string("none"));

    CManualSuppressionDialogModel& manual = *m_core.GetManualSuppressionDialog();
    manual.UpdateLayout();
    Show("manual suppression", manual.Visible() ? "available" : "unavailable");

    CRecordOnDemandDialogModel& recordOnDemand = *m_core.GetRecordOnDemandDialog();
    recordOnDemand.UpdateLayout();
    Show("record on demand", recordOnDemand.Visible() ? "available" : "unavailable");
    Show("record on demand state", recordOnDemand.StateText());
}

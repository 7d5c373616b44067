#include "StatusText.h"

#include "Strings.h"
#include "TextFormat.h"
#include "protocol/ActionMessages.h"
#include "protocol/ConfigMessages.h"


namespace {

void TrimLineFeeds(std::string& text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
}

const char* Address(const RecorderStatus& status)
{
    return status.address.c_str();
}

} // namespace

std::string BuildStatusTitle(const RecorderStatusTable& table)
{
    std::string suffix;
    if (table.AnyCallState(4)) {
        suffix = strings::EventFeedUnavailable;
    } else if (table.AnyCallState(8)) {
        suffix = strings::NotConfigured;
    } else if (!table.AnyCallState(2) && !table.AnyCallState(16)) {
        if (table.AnyCallState(1))
            suffix = strings::Recording;
    } else {
        if (table.AnyCallState(2))
            suffix = strings::Suppressing;
        if (table.AnyCallState(16)) {
            if (!suffix.empty())
                suffix += std::string(" ") + strings::And + " ";
            suffix += strings::Discarding;
        }
    }
    std::string title = strings::ProductName;
    if (!suffix.empty())
        title += " - " + suffix;
    return title;
}

std::string CallStateText(std::uint32_t callState)
{
    if (callState == 0)
        return strings::Idle;
    static const std::pair<std::uint32_t, const char*> names[] = {
        {1, "Recording, "}, {2, "Suppressing, "}, {4, "Unavailable, "}, {8, "NotConfigured, "}, {16, "Discarding, "}};
    std::string text;
    for (const auto& [bit, name] : names) {
        if (callState & bit)
            text += name;
    }
    if (text.empty())
        return "Unknown";
    text.resize(text.size() - 2);
    return text;
}

std::string RecordOnDemandStateText(const RecorderStatusTable& table)
{
    const std::uint32_t action = table.LargestRecordOnDemandAction();
    const bool temporary = table.AnyRecordOnDemandMode(2);
    if (table.AnyRecordOnDemandMode(1) || (temporary && action == table.LargestRecordOnDemandDefaultAction())) {
        switch (action) {
        case RecordOnDemand::NotAvailable: return strings::NotAvailable;
        case RecordOnDemand::Keep: return strings::KeepingAllCalls;
        case RecordOnDemand::Discard: return strings::DiscardingAllCalls;
        default: return strings::Unknown;
        }
    }
    if (temporary) {
        const bool recording = table.AnyCallState(1);
        switch (action) {
        case RecordOnDemand::NotAvailable: return strings::NotAvailable;
        case RecordOnDemand::Keep: return recording ? strings::KeepingThisCall : strings::KeepingNextCall;
        case RecordOnDemand::Discard: return recording ? strings::DiscardingThisCall : strings::DiscardingNextCall;
        default: return strings::Unknown;
        }
    }
    return strings::Unknown;
}

bool MergeStatusMessage(std::string& text, std::string message)
{
    TrimLineFeeds(message);
    const std::string key = message.substr(0, message.find_first_of("'("));
    const std::size_t start = text.find(key);
    if (start == std::string::npos) {
        if (!text.empty())
            text += '\n';
        text += message;
        return true;
    }
    if (text.find(message) != std::string::npos)
        return false;
    const std::size_t end = text.find('\n', start);
    text.replace(start, end == std::string::npos ? std::string::npos : end - start, message);
    return true;
}

bool StatusReport::Unchanged(const RecorderStatusTable::Entries& entries) const
{
    if (entries.size() != m_snapshot.size())
        return false;
    for (const auto& [recorder, status] : entries) {
        const auto mine = m_snapshot.find(recorder);
        if (mine == m_snapshot.end() || !mine->second.SameState(status))
            return false;
    }
    return true;
}

bool StatusReport::Update(const RecorderStatusTable& table, const std::string& updateMode, std::time_t now)
{
    bool changed = false;
    std::string text;
    const RecorderStatusTable::Entries entries = table.GetEntries();
    if (!Unchanged(entries)) {
        m_snapshot = entries;
        text = Build(updateMode, now);
        TrimLineFeeds(text);
        changed = text != m_text;
    }

    const auto first = m_snapshot.find(1);
    const auto second = m_snapshot.find(2);
    if (first != m_snapshot.end() && second != m_snapshot.end() &&
        first->second.connectionStatus == ConnectionStatus::Connected &&
        second->second.connectionStatus == ConnectionStatus::Connected) {
        const RecorderStatus& one = first->second;
        const RecorderStatus& two = second->second;
        auto merge = [&](const std::string& message) {
            if (text.empty())
                text = m_text;
            if (MergeStatusMessage(text, message))
                changed = true;
        };
        if (m_callStateDeadline != 0 && now > m_callStateDeadline) {
            merge(FormatText(strings::CallStatesDiffer, Address(one), CallStateText(one.callState).c_str(), Address(two),
                         CallStateText(two.callState).c_str()));
        }
        if (m_recordOnDemandDeadline != 0 && now > m_recordOnDemandDeadline) {
            merge(FormatText(strings::RecordOnDemandStatesDiffer, Address(one),
                         RecordOnDemand::GetActionName(one.recordOnDemandAction).c_str(), Address(two),
                         RecordOnDemand::GetActionName(two.recordOnDemandAction).c_str()));
        }
    }

    if (changed)
        m_text = text;
    return changed;
}

std::time_t StatusReport::NextDeadline(std::time_t now) const
{
    std::time_t next = 0;
    for (const std::time_t deadline : {m_callStateDeadline, m_recordOnDemandDeadline}) {
        if (deadline != 0 && deadline >= now && (next == 0 || deadline < next))
            next = deadline;
    }
    return next;
}

std::string StatusReport::Build(const std::string& updateMode, std::time_t now)
{
    std::string text;
    auto entry = [&](unsigned recorder) -> const RecorderStatus* {
        const auto found = m_snapshot.find(recorder);
        return found == m_snapshot.end() ? nullptr : &found->second;
    };
    auto connected = [](const RecorderStatus* status) {
        return status != nullptr && status->connectionStatus == ConnectionStatus::Connected;
    };

    for (unsigned recorder = 1; recorder <= 2; ++recorder) {
        const RecorderStatus* status = entry(recorder);
        const std::uint32_t connection = status ? status->connectionStatus : 0;
        const char* address = status ? Address(*status) : "";
        switch (connection) {
        case ConnectionStatus::NotStarted:
            if (recorder == 1)
                text += strings::ConfigurationInvalid;
            break;
        case ConnectionStatus::InvalidAddress: text += FormatText(strings::InvalidAddress, address); break;
        case ConnectionStatus::NotConnected: text += FormatText(strings::NotConnected, address); break;
        case ConnectionStatus::InvalidConfiguration:
            text += FormatText(strings::NotConnectedInvalidConfiguration, address);
            break;
        case ConnectionStatus::NoLongerAttempting: text += FormatText(strings::NoLongerAttempting, address); break;
        case ConnectionStatus::Connected: break;
        default:
            text += FormatText(strings::UnexpectedConnectionStatus, static_cast<unsigned long>(connection), address);
            break;
        }

        if (connected(status) && status->annotationEnabled) {
            if (status->annotationStatus > AnnotationStatus::ConfigurationInForce) {
                text += FormatText(strings::UnexpectedAnnotationStatus, static_cast<unsigned long>(status->annotationStatus),
                               address);
            } else if (status->annotationStatus == AnnotationStatus::ConfigurationUnusable) {
                text += FormatText(strings::AnnotationErrors, address);
            } else if (status->annotationStatus == AnnotationStatus::ConfigurationDiffers) {
                const RecorderStatus* one = entry(1);
                const RecorderStatus* two = entry(2);
                text += FormatText(strings::AnnotationDifferences, one ? Address(*one) : "", two ? Address(*two) : "");
            }
        }

        if (recorder != 2)
            continue;
        const RecorderStatus* one = entry(1);
        const RecorderStatus* two = status;
        if (connected(one) && connected(two)) {
            if (one->annotationEnabled != two->annotationEnabled) {
                const RecorderStatus* enabled = one->annotationEnabled ? one : two;
                const RecorderStatus* other = enabled == one ? two : one;
                text += FormatText(strings::AnnotationEnabledOnlyOn, Address(*enabled), Address(*other));
            }
            auto enabledOnlyOn = [&](std::uint32_t RecorderStatus::*field, const char* format) {
                if (one->*field != two->*field && one->*field != 0 && two->*field != 0) {
                    const RecorderStatus* enabled = one->*field == 2 ? one : two;
                    const RecorderStatus* other = enabled == one ? two : one;
                    text += FormatText(format, Address(*enabled), Address(*other));
                }
            };
            enabledOnlyOn(&RecorderStatus::manualSuppressionEnabled, strings::ManualSuppressionEnabledOnlyOn);
            enabledOnlyOn(&RecorderStatus::recordOnDemandEnabled, strings::RecordOnDemandEnabledOnlyOn);
            if (one->recordOnDemandMode != two->recordOnDemandMode) {
                text += FormatText(strings::RecordOnDemandModesDiffer, Address(*one),
                               RecordOnDemand::GetModeName(one->recordOnDemandMode).c_str(), Address(*two),
                               RecordOnDemand::GetModeName(two->recordOnDemandMode).c_str());
            }
            if (one->stateTimeout != two->stateTimeout) {
                text += FormatText(strings::StateTimeoutsDiffer, Address(*one), static_cast<unsigned long>(one->stateTimeout),
                               Address(*two), static_cast<unsigned long>(two->stateTimeout));
            }
            if (one->callState == two->callState)
                m_callStateDeadline = 0;
            else if (m_callStateDeadline == 0 && updateMode != "ActiveOnly")
                m_callStateDeadline = now + m_reportDelay;
            if (one->recordOnDemandAction == two->recordOnDemandAction)
                m_recordOnDemandDeadline = 0;
            else if (m_recordOnDemandDeadline == 0)
                m_recordOnDemandDeadline = now + m_reportDelay;
        }

        if (m_autoSuppressionMessages) {
            for (const RecorderStatus* each : {one, two}) {
                if (!connected(each))
                    continue;
                if (each->autoSuppressionState == 2)
                    text += FormatText(strings::AutoSuppressionEnabled, Address(*each), each->autoSuppressionTrigger.c_str());
                else if (each->autoSuppressionState == 1)
                    text += FormatText(strings::AutoSuppressionNotEnabled, Address(*each));
            }
        }
    }
    return text;
}

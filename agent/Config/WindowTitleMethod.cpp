#include "WindowTitleMethod.h"

#include "IniText.h"
#include "Log.h"

#include <chrono>
#include <cstdio>

using kzb::inspection::CachingDesktop;
using kzb::inspection::WindowId;

namespace {

// Titles are read into a 99-byte buffer when enumerated and a 100-byte one for the
// foreground window; child texts into 99 bytes, waiting at most a second for the window.
constexpr std::size_t EnumeratedTitleLength = 98;
constexpr std::size_t ForegroundTitleLength = 99;
constexpr std::size_t ChildTextLength = 98;
constexpr std::chrono::milliseconds ChildTextTimeout{1000};

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

} // namespace

std::string GetWindowTriggerName(std::uint32_t trigger)
{
    switch (trigger) {
    case WindowTitleMethod::TitleExists: return "Title exists.";
    case WindowTitleMethod::TitleHasFocus: return "Title has focus.";
    default: return "Unknown trigger type.";
    }
}

WindowTitleMethod::WindowTitleMethod(std::uint32_t type) : AutoSuppressionMethod(type) {}

WindowTitleMethod::WindowTitleMethod(const WindowTitleMethod& other)
    : AutoSuppressionMethod(other), m_trigger(other.m_trigger), m_matchPattern(other.m_matchPattern),
      m_windowText(other.m_windowText), m_windowTextLowered(other.m_windowTextLowered)
{
}

void WindowTitleMethod::SetWindowText(std::string text)
{
    m_windowTextLowered = LoweredText(text);
    m_windowText = std::move(text);
}

std::unique_ptr<AutoSuppressionMethod> WindowTitleMethod::Clone() const
{
    return std::unique_ptr<AutoSuppressionMethod>(new WindowTitleMethod(*this));
}

std::uint32_t WindowTitleMethod::GetSize() const
{
    return 4 + 4 + 4 + TextSize + (HasMinimumSuppressionTime() ? 4 : 0);
}

void WindowTitleMethod::ReadFields(Reader& in)
{
    AutoSuppressionMethod::ReadFields(in);
    in.Read(m_trigger);
    in.Read(m_matchPattern);
    std::string text;
    in.ReadString(text, TextSize);
    SetWindowText(std::move(text));
    if (HasMinimumSuppressionTime())
        in.Read(m_minimumSuppressionTime);
}

void WindowTitleMethod::WriteFields(Writer& out) const
{
    AutoSuppressionMethod::WriteFields(out);
    out.Write(m_trigger);
    out.Write(m_matchPattern);
    out.WriteString(m_windowText, TextSize);
    if (HasMinimumSuppressionTime())
        out.Write(m_minimumSuppressionTime);
}

unsigned WindowTitleMethod::ParseIniString(const char* text)
{
    unsigned long trigger = 0, pattern = 0, minimumTime = 0;
    char windowText[100] = "";
    int consumed = 0;
    unsigned length = 0;
    if (m_type == 1) {
        const int got = std::sscanf(text, "%lu|%lu|%99[^|]|%n", &trigger, &pattern, windowText, &consumed);
        length = IniScanLength(got, 3, consumed);
    } else {
        const int got =
            std::sscanf(text, "%lu|%lu|%lu|%99[^|]|%n", &trigger, &pattern, &minimumTime, windowText, &consumed);
        length = IniScanLength(got, 4, consumed);
    }
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (trigger < TitleExists || trigger > TitleHasFocus) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Window Trigger = %lu\n", trigger);
        return 0;
    }
    if (pattern < TextMatch::ExactMatch || pattern > TextMatch::Contains) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Match Pattern = %lu\n", pattern);
        return 0;
    }
    if (windowText[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Text = '%s'\n", windowText);
        return 0;
    }
    m_trigger = static_cast<std::uint32_t>(trigger);
    m_matchPattern = static_cast<std::uint32_t>(pattern);
    m_minimumSuppressionTime = static_cast<std::uint32_t>(minimumTime);
    SetWindowText(windowText);
    // The three-value form becomes the current one, without a minimum suppression time.
    if (m_type == 1)
        m_type = 2;
    return length;
}

std::string WindowTitleMethod::ToIniString() const
{
    return IniValues({std::to_string(m_trigger), std::to_string(m_matchPattern),
                      std::to_string(m_minimumSuppressionTime), m_windowText});
}

void WindowTitleMethod::LogConfiguration() const
{
    AGENT_LOG(kzb::log::Message,
            "Window Title Method - Trigger %lu, Match Pattern %lu, Window Text '%s', Min Suppression Time %lu\n",
            static_cast<unsigned long>(m_trigger), static_cast<unsigned long>(m_matchPattern), m_windowText.c_str(),
            static_cast<unsigned long>(m_minimumSuppressionTime));
}

bool WindowTitleMethod::Check()
{
    m_matched = false;
    // The inspection's snapshot, or one of this check's own.
    kzb::inspection::InspectionSnapshot scope;
    CachingDesktop& desktop = kzb::inspection::CurrentSnapshot();

    switch (m_trigger) {
    case TitleExists:
        for (const auto& window : desktop.TopLevelTitles(EnumeratedTitleLength)) {
            if (MatchLowered(window.title.lowered, m_matchPattern, m_windowTextLowered) &&
                OnTitleMatched(desktop, window.id, window.title.text))
                break;
        }
        break;
    case TitleHasFocus:
        if (const auto& window = desktop.Foreground(ForegroundTitleLength); window.id != 0) {
            if (MatchLowered(window.title.lowered, m_matchPattern, m_windowTextLowered))
                OnTitleMatched(desktop, window.id, window.title.text);
        }
        break;
    default:
        AGENT_LOG(kzb::log::Error, "Check() - Unrecognised window trigger (%lu).\n",
                static_cast<unsigned long>(m_trigger));
        break;
    }
    return m_matched;
}

bool WindowTitleMethod::OnTitleMatched(CachingDesktop&, WindowId, const std::string& title)
{
    m_matched = true;
    m_triggerDescription = "\nMatched WindowTitle: \nFound title:" + Quoted(title) + "\n" +
                           "Trigger Params->" + " Type: " + Quoted(GetWindowTriggerName(m_trigger)) +
                           ", Pattern: " + Quoted(GetMatchPatternName(m_matchPattern)) +
                           ", Text: " + Quoted(m_windowText);
    return true;
}

SubWindowTitleMethod::SubWindowTitleMethod() : WindowTitleMethod(3) {}

SubWindowTitleMethod::SubWindowTitleMethod(const SubWindowTitleMethod& other)
    : WindowTitleMethod(other), m_subMatchPattern(other.m_subMatchPattern), m_subWindowText(other.m_subWindowText),
      m_subWindowTextLowered(other.m_subWindowTextLowered)
{
}

void SubWindowTitleMethod::SetSubWindowText(std::string text)
{
    m_subWindowTextLowered = LoweredText(text);
    m_subWindowText = std::move(text);
}

std::unique_ptr<AutoSuppressionMethod> SubWindowTitleMethod::Clone() const
{
    return std::unique_ptr<AutoSuppressionMethod>(new SubWindowTitleMethod(*this));
}

std::uint32_t SubWindowTitleMethod::GetSize() const
{
    return WindowTitleMethod::GetSize() + 4 + TextSize;
}

void SubWindowTitleMethod::ReadFields(Reader& in)
{
    WindowTitleMethod::ReadFields(in);
    in.Read(m_subMatchPattern);
    std::string text;
    in.ReadString(text, TextSize);
    SetSubWindowText(std::move(text));
}

void SubWindowTitleMethod::WriteFields(Writer& out) const
{
    WindowTitleMethod::WriteFields(out);
    out.Write(m_subMatchPattern);
    out.WriteString(m_subWindowText, TextSize);
}

unsigned SubWindowTitleMethod::ParseIniString(const char* text)
{
    const unsigned mainLength = WindowTitleMethod::ParseIniString(text);
    if (mainLength == 0)
        return 0;

    unsigned long pattern = 0;
    char subText[100] = "";
    int consumed = 0;
    const int got = std::sscanf(text + mainLength, "%lu|%99[^|]|%n", &pattern, subText, &consumed);
    const unsigned subLength = IniScanLength(got, 2, consumed);
    if (subLength == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (pattern < TextMatch::ExactMatch || pattern > TextMatch::Contains) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Sub Match Pattern = %lu\n", pattern);
        return 0;
    }
    if (subText[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Sub Text = '%s'\n", subText);
        return 0;
    }
    m_subMatchPattern = static_cast<std::uint32_t>(pattern);
    SetSubWindowText(subText);
    return mainLength + subLength;
}

std::string SubWindowTitleMethod::ToIniString() const
{
    return WindowTitleMethod::ToIniString() + IniValues({std::to_string(m_subMatchPattern), m_subWindowText});
}

void SubWindowTitleMethod::LogConfiguration() const
{
    AGENT_LOG(kzb::log::Message,
            "Sub Window Title Method - Trigger %lu, Match Pattern %lu, Window Text '%s', Min Suppression Time %lu, "
            "Sub Window Text '%s'\n",
            static_cast<unsigned long>(m_trigger), static_cast<unsigned long>(m_matchPattern), m_windowText.c_str(),
            static_cast<unsigned long>(m_minimumSuppressionTime), m_subWindowText.c_str());
}

bool SubWindowTitleMethod::Check()
{
    m_foundWindowTitle.clear();
    return WindowTitleMethod::Check();
}

bool SubWindowTitleMethod::OnTitleMatched(CachingDesktop& desktop, WindowId window, const std::string& title)
{
    m_foundWindowTitle = title;
    for (const WindowId child : desktop.Children(window)) {
        const CachingDesktop::Text& text = desktop.WindowText(child, ChildTextLength, ChildTextTimeout);
        if (!MatchLowered(text.lowered, m_subMatchPattern, m_subWindowTextLowered))
            continue;
        m_matched = true;
        m_triggerDescription = "\nMatched SubWindow Text: \nWindow title: " + Quoted(m_foundWindowTitle) +
                               "subwindow text: " + Quoted(text.text) + "\n" + "Trigger Params->" +
                               " Main Window, Type: " + Quoted(GetWindowTriggerName(m_trigger)) +
                               ", Pattern: " + Quoted(GetMatchPatternName(m_matchPattern)) +
                               ", Text: " + Quoted(m_windowText) +
                               ", Subwindow Pattern: " + Quoted(GetMatchPatternName(m_subMatchPattern)) +
                               ", Text: " + Quoted(m_subWindowText);
        break;
    }
    if (!m_matched)
        m_foundWindowTitle.clear();
    return m_matched;
}

#include "DetermineIDFromWindowTitle.h"

#include "IniText.h"
#include "Log.h"
#include "inspection/Desktop.h"

#include <cstdio>

namespace {
// Titles are read into a 99-byte buffer.
constexpr std::size_t TitleLength = 98;
} // namespace

DetermineIDFromWindowTitle::DetermineIDFromWindowTitle(std::uint32_t matchPattern, std::string windowText,
                                                       std::string userStartsAfter, std::string userEndsBefore)
    : IDDetectionMethod(1), m_matchPattern(matchPattern), m_windowText(std::move(windowText)),
      m_userStartsAfter(std::move(userStartsAfter)), m_userEndsBefore(std::move(userEndsBefore))
{
}

std::unique_ptr<IDDetectionMethod> DetermineIDFromWindowTitle::Clone() const
{
    auto copy = std::make_unique<DetermineIDFromWindowTitle>(m_matchPattern, m_windowText, m_userStartsAfter,
                                                             m_userEndsBefore);
    copy->m_type = m_type;
    return copy;
}

bool DetermineIDFromWindowTitle::IsValid() const
{
    return m_type == 1 && !m_windowText.empty() && !m_userStartsAfter.empty() && !m_userEndsBefore.empty();
}

void DetermineIDFromWindowTitle::ReadFields(Reader& in)
{
    IDDetectionMethod::ReadFields(in);
    in.Read(m_matchPattern);
    in.ReadString(m_windowText, TextSize);
    in.ReadString(m_userStartsAfter, TextSize);
    in.ReadString(m_userEndsBefore, TextSize);
}

void DetermineIDFromWindowTitle::WriteFields(Writer& out) const
{
    IDDetectionMethod::WriteFields(out);
    out.Write(m_matchPattern);
    out.WriteString(m_windowText, TextSize);
    out.WriteString(m_userStartsAfter, TextSize);
    out.WriteString(m_userEndsBefore, TextSize);
}

unsigned DetermineIDFromWindowTitle::ParseIniString(const char* text)
{
    unsigned long pattern = 0;
    char windowText[100] = "", startsAfter[100] = "", endsBefore[100] = "";
    int consumed = 0;
    const int got =
        std::sscanf(text, "%lu|%99[^|]|%99[^|]|%99[^|]|%n", &pattern, windowText, startsAfter, endsBefore, &consumed);
    const unsigned length = IniScanLength(got, 4, consumed);
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
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
    if (startsAfter[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! ID Start = '%s'\n", startsAfter);
        return 0;
    }
    if (endsBefore[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! ID End = '%s'\n", endsBefore);
        return 0;
    }
    m_matchPattern = static_cast<std::uint32_t>(pattern);
    m_windowText = windowText;
    m_userStartsAfter = startsAfter;
    m_userEndsBefore = endsBefore;
    return length;
}

std::string DetermineIDFromWindowTitle::ToIniString() const
{
    return IniValues({std::to_string(m_matchPattern), m_windowText, m_userStartsAfter, m_userEndsBefore});
}

void DetermineIDFromWindowTitle::LogConfiguration() const
{
    AGENT_LOG(kzb::log::Message,
            "Determine ID From Window Title - Match Pattern %lu, Window Text '%s', User Starts After '%s', User Ends "
            "Before '%s'\n",
            static_cast<unsigned long>(m_matchPattern), m_windowText.c_str(), m_userStartsAfter.c_str(),
            m_userEndsBefore.c_str());
}

std::optional<std::string> DetermineIDFromWindowTitle::CutID(const std::string& title) const
{
    // The delimiters are looked for, as configured, in the lowered title.
    const std::string lowered = ToLowerAscii(title.substr(0, TextSize - 1));
    std::size_t begin = 0;
    if (!m_userStartsAfter.empty()) {
        const std::size_t start = lowered.find(m_userStartsAfter);
        if (start == std::string::npos)
            return std::nullopt;
        begin = start + m_userStartsAfter.size();
    }
    std::size_t end = lowered.size();
    if (!m_userEndsBefore.empty()) {
        end = lowered.find(m_userEndsBefore, begin);
        if (end == std::string::npos)
            return std::nullopt;
    }
    if (end == begin)
        return std::nullopt;
    return title.substr(begin, end - begin);
}

bool DetermineIDFromWindowTitle::DetectID()
{
    m_found = false;
    const auto desktop = kzb::inspection::GetDesktop();
    desktop->EnumTopLevelWindows([&](kzb::inspection::WindowId window) {
        const std::string title = desktop->GetWindowTitle(window, TitleLength);
        if (!MatchText(title, m_matchPattern, m_windowText))
            return true;
        const auto id = CutID(title);
        if (!id)
            return true;
        m_detectedID = *id;
        m_found = true;
        return false;
    });
    return m_found;
}

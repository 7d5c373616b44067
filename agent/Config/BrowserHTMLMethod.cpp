#include "BrowserHTMLMethod.h"

#include "IniText.h"
#include "Log.h"
#include "inspection/Desktop.h"
#include "inspection/PageReader.h"

#include <cstdio>

using kzb::inspection::BrowserHTMLViewer;

namespace {

std::string PageProperty(BrowserHTMLViewer& page, std::uint32_t triggerObject)
{
    switch (triggerObject) {
    case BrowserHTMLCriteria::PageTitle: return page.GetTitle();
    case BrowserHTMLCriteria::URL: return page.GetURL();
    case BrowserHTMLCriteria::HTMLBody: return page.GetHTMLBody();
    case BrowserHTMLCriteria::Domain: return page.GetDomain();
    default: return {};
    }
}

} // namespace

std::string GetTriggerObjectName(std::uint32_t triggerObject)
{
    switch (triggerObject) {
    case BrowserHTMLCriteria::PageTitle: return "Page title";
    case BrowserHTMLCriteria::URL: return "URL";
    case BrowserHTMLCriteria::HTMLBody: return "HTML Body";
    case BrowserHTMLCriteria::Domain: return "Domain";
    default: return "Unknown";
    }
}

BrowserHTMLCriteria::BrowserHTMLCriteria(std::uint32_t triggerObject, std::uint32_t matchPattern, std::string text)
    : m_triggerObject(triggerObject), m_matchPattern(matchPattern), m_text(std::move(text))
{
}

void BrowserHTMLCriteria::ReadFields(Reader& in)
{
    in.Read(m_triggerObject);
    in.Read(m_matchPattern);
    in.ReadString(m_text, 0);
}

void BrowserHTMLCriteria::WriteFields(Writer& out) const
{
    out.Write(m_triggerObject);
    out.Write(m_matchPattern);
    out.WriteString(m_text, 0);
}

unsigned BrowserHTMLCriteria::ParseIniString(const char* text)
{
    unsigned long triggerObject = 0, pattern = 0;
    char value[100] = "";
    int consumed = 0;
    const int got = std::sscanf(text, "%lu|%lu|%99[^|]|%n", &triggerObject, &pattern, value, &consumed);
    const unsigned length = IniScanLength(got, 3, consumed);
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (triggerObject < PageTitle || triggerObject > Domain) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Trigger Object = %lu\n", triggerObject);
        return 0;
    }
    if (pattern < TextMatch::ExactMatch || pattern > TextMatch::Contains) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Match Pattern = %lu\n", pattern);
        return 0;
    }
    if (value[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Text = '%s'\n", value);
        return 0;
    }
    m_triggerObject = static_cast<std::uint32_t>(triggerObject);
    m_matchPattern = static_cast<std::uint32_t>(pattern);
    m_text = value;
    return length;
}

std::string BrowserHTMLCriteria::ToIniString() const
{
    return IniValues({std::to_string(m_triggerObject), std::to_string(m_matchPattern), m_text});
}

BrowserHTMLMethod::BrowserHTMLMethod(std::vector<BrowserHTMLCriteria> criteria, std::uint32_t minimumSuppressionTime)
    : AutoSuppressionMethod(4), m_criteria(std::move(criteria))
{
    m_minimumSuppressionTime = minimumSuppressionTime;
}

BrowserHTMLMethod::BrowserHTMLMethod(const BrowserHTMLMethod& other)
    : AutoSuppressionMethod(other), m_criteria(other.m_criteria)
{
}

std::unique_ptr<AutoSuppressionMethod> BrowserHTMLMethod::Clone() const
{
    return std::unique_ptr<AutoSuppressionMethod>(new BrowserHTMLMethod(*this));
}

std::uint32_t BrowserHTMLMethod::GetSize() const
{
    std::uint32_t size = 12;
    for (const BrowserHTMLCriteria& criterion : m_criteria)
        size += criterion.GetSize();
    return size;
}

bool BrowserHTMLMethod::IsValid() const
{
    if (m_criteria.empty())
        return false;
    for (const BrowserHTMLCriteria& criterion : m_criteria) {
        if (!criterion.IsValid())
            return false;
    }
    return true;
}

void BrowserHTMLMethod::ReadFields(Reader& in)
{
    AutoSuppressionMethod::ReadFields(in);
    in.Read(m_minimumSuppressionTime);
    m_criteria.clear();
    in.ReadList(m_criteria);
}

void BrowserHTMLMethod::WriteFields(Writer& out) const
{
    AutoSuppressionMethod::WriteFields(out);
    out.Write(m_minimumSuppressionTime);
    out.WriteList(m_criteria);
}

unsigned BrowserHTMLMethod::ParseIniString(const char* text)
{
    unsigned long minimumTime = 0, count = 0;
    int consumed = 0;
    const int got = std::sscanf(text, "%lu|%lu|%n", &minimumTime, &count, &consumed);
    unsigned length = IniScanLength(got, 2, consumed);
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!");
        return 0;
    }
    if (count == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Number of Criteria = %lu", count);
        return 0;
    }
    m_minimumSuppressionTime = static_cast<std::uint32_t>(minimumTime);
    for (unsigned long i = 0; i < count; ++i) {
        BrowserHTMLCriteria criterion;
        const unsigned criterionLength = criterion.ParseIniString(text + length);
        if (criterionLength == 0)
            return 0;
        m_criteria.push_back(std::move(criterion));
        length += criterionLength;
    }
    return length;
}

std::string BrowserHTMLMethod::ToIniString() const
{
    std::string text = IniValues({std::to_string(m_minimumSuppressionTime), std::to_string(m_criteria.size())});
    for (const BrowserHTMLCriteria& criterion : m_criteria)
        text += criterion.ToIniString();
    return text;
}

void BrowserHTMLMethod::LogConfiguration() const
{
    AGENT_LOG(kzb::log::Message, "Browser HTML Method - Number of Criteria %lu",
            static_cast<unsigned long>(m_criteria.size()));
}

bool BrowserHTMLMethod::Check()
{
    const auto desktop = kzb::inspection::GetDesktop();
    auto finder = desktop->CreateBrowserWindowFinder();
    return finder->FindBrowserWindows([&](kzb::inspection::WindowId window) {
        std::string lines;
        try {
            const auto page = desktop->OpenBrowserHTMLViewer(window, m_pageAccess);
            for (const BrowserHTMLCriteria& criterion : m_criteria) {
                const std::uint32_t pattern = criterion.GetMatchPattern();
                if (!MatchText(PageProperty(*page, criterion.GetTriggerObject()), pattern, criterion.GetText()))
                    return false;
                lines += "Trigger Params-> Object: '" + GetTriggerObjectName(criterion.GetTriggerObject()) +
                         "', Type: '" + GetMatchPatternName(pattern) + "', Text: '" + criterion.GetText() + "'\r\n";
            }
        } catch (const kzb::inspection::PageNotAnswering&) {
            // Said once when it stopped answering; the other browsers are still looked at.
            return false;
        }
        m_triggerDescription = "\r\nMatched BrowserHTML:\r\n" + lines;
        return true;
    });
}

#pragma once

#include "ConfigObject.h"
#include "inspection/Desktop.h"

#include <vector>

// Compares one property of a browser page with a configured text.
class BrowserHTMLCriteria : public Serializable, public ConfigObject
{
public:
    enum TriggerObject : std::uint32_t
    {
        PageTitle = 1,
        URL = 2,
        HTMLBody = 3,
        Domain = 4,
    };

    BrowserHTMLCriteria(std::uint32_t triggerObject = PageTitle, std::uint32_t matchPattern = TextMatch::ExactMatch,
                        std::string text = {});

    std::uint32_t GetTriggerObject() const { return m_triggerObject; }
    std::uint32_t GetMatchPattern() const { return m_matchPattern; }
    const std::string& GetText() const { return m_text; }

    std::uint32_t GetSize() const override { return static_cast<std::uint32_t>(m_text.size()) + 9; }
    bool IsValid() const override { return !m_text.empty(); }
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_triggerObject;
    std::uint32_t m_matchPattern;
    std::string m_text; // unbounded in the binary form, 99 characters in the text form
};

std::string GetTriggerObjectName(std::uint32_t triggerObject);

// Fires while a browser window shows a page that meets every criterion. Construction sets
// up the page access for the constructing thread (on Windows COM and OleAcc) and throws
// when it cannot.
class BrowserHTMLMethod : public AutoSuppressionMethod
{
public:
    explicit BrowserHTMLMethod(std::vector<BrowserHTMLCriteria> criteria = {}, std::uint32_t minimumSuppressionTime = 0);

    const std::vector<BrowserHTMLCriteria>& GetCriteria() const { return m_criteria; }

    std::uint32_t GetSize() const override;
    bool IsValid() const override;
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;
    void LogConfiguration() const override;
    bool Check() override;
    std::unique_ptr<AutoSuppressionMethod> Clone() const override;

    // Copies the configuration; run-time results start empty.
    BrowserHTMLMethod(const BrowserHTMLMethod& other);

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::vector<BrowserHTMLCriteria> m_criteria;
    kzb::inspection::BrowserPageAccess m_pageAccess;
};

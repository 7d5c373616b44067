#pragma once

#include "ConfigObject.h"

#include "inspection/InspectionSnapshot.h"

// Fires while a top-level window whose title matches is on the desktop (trigger 1) or has
// the focus (trigger 2). Type 1 is the older form without a minimum suppression time.
class WindowTitleMethod : public AutoSuppressionMethod
{
public:
    enum Trigger : std::uint32_t
    {
        TitleExists = 1,
        TitleHasFocus = 2,
    };
    static constexpr std::size_t TextSize = 100;

    explicit WindowTitleMethod(std::uint32_t type = 2);

    std::uint32_t GetTrigger() const { return m_trigger; }
    std::uint32_t GetMatchPattern() const { return m_matchPattern; }
    const std::string& GetWindowText() const { return m_windowText; }
    bool IsMatched() const { return m_matched; }

    std::uint32_t GetSize() const override;
    bool IsValid() const override { return !m_windowText.empty(); }
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;
    void LogConfiguration() const override;
    bool Check() override;
    std::unique_ptr<AutoSuppressionMethod> Clone() const override;

    // Copies the configuration; run-time results start empty.
    WindowTitleMethod(const WindowTitleMethod& other);

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

    // Whether a matching title qualifies; SubWindowTitleMethod searches its children.
    virtual bool OnTitleMatched(kzb::inspection::CachingDesktop& desktop, kzb::inspection::WindowId window,
                                const std::string& title);
    void SetWindowText(std::string text);

    std::uint32_t m_trigger = TitleExists;
    std::uint32_t m_matchPattern = TextMatch::ExactMatch;
    std::string m_windowText;
    LoweredText m_windowTextLowered; // lowered once, when configured

private:
    bool HasMinimumSuppressionTime() const { return m_type != 1; }
};

// Fires while a child window of a matching top-level window shows a matching text.
class SubWindowTitleMethod : public WindowTitleMethod
{
public:
    SubWindowTitleMethod();

    std::uint32_t GetSubMatchPattern() const { return m_subMatchPattern; }
    const std::string& GetSubWindowText() const { return m_subWindowText; }

    std::uint32_t GetSize() const override;
    bool IsValid() const override { return !m_windowText.empty() && !m_subWindowText.empty(); }
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;
    void LogConfiguration() const override;
    bool Check() override;
    std::unique_ptr<AutoSuppressionMethod> Clone() const override;

    SubWindowTitleMethod(const SubWindowTitleMethod& other);

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;
    bool OnTitleMatched(kzb::inspection::CachingDesktop& desktop, kzb::inspection::WindowId window,
                        const std::string& title) override;

private:
    void SetSubWindowText(std::string text);

    std::uint32_t m_subMatchPattern = TextMatch::ExactMatch;
    std::string m_subWindowText;
    LoweredText m_subWindowTextLowered;
    std::string m_foundWindowTitle;
};

std::string GetWindowTriggerName(std::uint32_t trigger);

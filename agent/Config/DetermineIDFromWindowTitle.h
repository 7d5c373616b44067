#pragma once

#include "ConfigObject.h"

#include <optional>

// Finds the agent's identifier in the title of a window: the text between the first
// occurrence of userStartsAfter and the next occurrence of userEndsBefore.
class DetermineIDFromWindowTitle : public IDDetectionMethod
{
public:
    static constexpr std::size_t TextSize = 100;

    DetermineIDFromWindowTitle(std::uint32_t matchPattern = TextMatch::ExactMatch, std::string windowText = {},
                               std::string userStartsAfter = {}, std::string userEndsBefore = {});

    std::uint32_t GetMatchPattern() const { return m_matchPattern; }
    const std::string& GetWindowText() const { return m_windowText; }
    const std::string& GetUserStartsAfter() const { return m_userStartsAfter; }
    const std::string& GetUserEndsBefore() const { return m_userEndsBefore; }

    std::uint32_t GetSize() const override { return 4 + 4 + 3 * TextSize; }
    bool IsValid() const override;
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;
    void LogConfiguration() const override;
    bool DetectID() override;
    // The identifier found last; kept when a later search finds none.
    std::string GetDetectedID() const override { return m_detectedID; }
    std::unique_ptr<IDDetectionMethod> Clone() const override;

    // The identifier cut out of title, or nothing.
    std::optional<std::string> CutID(const std::string& title) const;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_matchPattern;
    std::string m_windowText;
    std::string m_userStartsAfter;
    std::string m_userEndsBefore;
    bool m_found = false;
    std::string m_detectedID;
};

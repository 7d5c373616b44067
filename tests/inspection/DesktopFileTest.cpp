#include "../support/DesktopFixture.h"
#include "../support/LogCapture.h"

#include <gtest/gtest.h>

using kzb::inspection::WindowId;

class DesktopFileTest : public DesktopFixture
{
protected:
    std::vector<std::string> Titles()
    {
        std::vector<std::string> titles;
        m_desktop->EnumTopLevelWindows([&](WindowId window) {
            titles.push_back(m_desktop->GetWindowTitle(window, 200));
            return true;
        });
        return titles;
    }
};

TEST_F(DesktopFileTest, DefaultsOrderAndClasses)
{
    SetDesktopJson(R"({"windows": [
        {"title": "A", "class": "CrmFrame", "children": [{"text": "x", "class": "Edit"}, {"text": "y", "class": "Edit"}]},
        {"title": "B", "foreground": true},
        {"title": "C", "class": "CrmFrame"}]})");
    EXPECT_EQ(Titles(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(m_desktop->GetWindowTitle(m_desktop->GetForegroundWindow(), 99), "B");

    const WindowId first = m_desktop->FindWindowByClass(0, 0, "CrmFrame");
    const WindowId second = m_desktop->FindWindowByClass(0, first, "CrmFrame");
    EXPECT_EQ(m_desktop->GetWindowTitle(second, 99), "C");
    EXPECT_EQ(m_desktop->FindWindowByClass(0, second, "CrmFrame"), 0u);

    const WindowId edit = m_desktop->FindWindowByClass(first, 0, "Edit");
    EXPECT_EQ(m_desktop->GetWindowTextTimeout(m_desktop->FindWindowByClass(first, edit, "Edit"), 98,
                                              std::chrono::milliseconds(1000)),
              "y");
}

TEST_F(DesktopFileTest, BadFilesAreEmptyDesktopsWithOneWarningPerChange)
{
    LogCapture log;
    EXPECT_TRUE(Titles().empty()) << "missing file";
    EXPECT_TRUE(Titles().empty());
    SetDesktopJson("{not json");
    EXPECT_TRUE(Titles().empty());
    EXPECT_TRUE(Titles().empty());
    SetDesktopJson(R"({"windows": [{"class": "no title"}]})");
    EXPECT_TRUE(Titles().empty());
    SetDesktopJson(R"({"windows": [{"title": "back"}]})");
    EXPECT_EQ(Titles(), std::vector<std::string>{"back"});

    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines)
        EXPECT_EQ(line.level, 2) << line.text;
    EXPECT_NE(lines[0].text.find("cannot be read"), std::string::npos);
    EXPECT_NE(lines[1].text.find("is not a valid desktop"), std::string::npos);
}

// The window title methods against real windows.
#include "Config/WindowTitleMethod.h"
#include "inspection/Desktop.h"
#include "inspection/InspectionClock.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>

namespace {

std::unique_ptr<AutoSuppressionMethod> Method(std::uint32_t type, const std::string& ini)
{
    auto method = CreateAutoSuppressionMethod(type);
    EXPECT_GT(method->ParseIniString(ini.c_str()), 0u) << ini;
    return method;
}

// Characters 98 and 99 of this title are "AB".
const std::string LongTitle = "KZB Long " + std::string(88, '.') + "ABCDEFGHIJKLMNOPQRSTUVW";

class RealWindows : public ::testing::Test
{
protected:
    // The windows live as long as the process: under Wine without a window manager each
    // DestroyWindow of a visible window waits about two seconds.
    static void SetUpTestSuite()
    {
        m_hidden = Frame("KZB Hidden Payment Window", false);
        m_visible = Frame("KZB Visible Orders", true);
        Child(m_visible, "STATIC", "Customer");
        Child(m_visible, "EDIT", "Card Number:");
        m_long = Frame(LongTitle, true);
    }

    void SetUp() override
    {
        ASSERT_NE(m_visible, nullptr) << "no display?";
        // The test's own windows play other applications' here.
        kzb::inspection::SetDesktop(kzb::inspection::CreateSystemDesktop(kzb::inspection::OwnWindows::Included));
    }
    void TearDown() override { kzb::inspection::SetDesktop(nullptr); }

    static HWND Frame(const std::string& title, bool visible)
    {
        return CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 0, 0,
                               300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }

    static void Child(HWND parent, const char* className, const char* text)
    {
        CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, parent, nullptr,
                        GetModuleHandleA(nullptr), nullptr);
    }

    static inline HWND m_hidden = nullptr;
    static inline HWND m_visible = nullptr;
    static inline HWND m_long = nullptr;
};

} // namespace

TEST_F(RealWindows, TitleExistsFindsHiddenAndVisibleWindows)
{
    EXPECT_TRUE(Method(2, "1|2|0|kzb hidden payment|")->Check());
    EXPECT_TRUE(Method(2, "1|1|0|KZB VISIBLE ORDERS|")->Check());
    EXPECT_FALSE(Method(2, "1|1|0|KZB No Such Window|")->Check());
}

TEST_F(RealWindows, TitleHasFocusOnlyForTheForegroundWindow)
{
    ASSERT_TRUE(SetForegroundWindow(m_visible));
    ASSERT_EQ(GetForegroundWindow(), m_visible);
    EXPECT_TRUE(Method(2, "2|1|0|KZB Visible Orders|")->Check());
    EXPECT_FALSE(Method(2, "2|2|0|KZB Hidden|")->Check());
}

TEST_F(RealWindows, LongTitlesAre98CharactersEnumeratedAnd99InFront)
{
    EXPECT_TRUE(Method(2, "1|3|0|.A|")->Check());
    EXPECT_FALSE(Method(2, "1|3|0|AB|")->Check());
    ASSERT_TRUE(SetForegroundWindow(m_long));
    EXPECT_TRUE(Method(2, "2|3|0|AB|")->Check());
    EXPECT_FALSE(Method(2, "2|3|0|ABC|")->Check());
}

TEST_F(RealWindows, ChildControlTexts)
{
    auto method = Method(3, "1|1|0|KZB Visible Orders|2|card number|");
    EXPECT_TRUE(method->Check());
    EXPECT_NE(method->GetTriggerDescription().find("subwindow text: \"Card Number:\""), std::string::npos);
    EXPECT_FALSE(Method(3, "1|1|0|KZB Visible Orders|1|Notes|")->Check());
}

TEST_F(RealWindows, ChildOfAHungApplicationIsAnEmptyTextAfterTheTimeOut)
{
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "KZBHungWindowAppReady");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    char command[] = "hung_window_app.exe";
    ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << GetLastError();
    ASSERT_EQ(WaitForSingleObject(ready, 15000), WAIT_OBJECT_0);

    auto method = Method(3, "1|1|0|KZB Hung Application|1|Card number|");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(method->Check());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(10));

    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(ready);
}

TEST(SystemDesktopWatcher, AnotherProgramsNewWindowWakesTheClockAndLeavingStopsAtOnce)
{
    kzb::inspection::SetDesktop(kzb::inspection::CreateSystemDesktop());
    HANDLE woken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    kzb::inspection::InspectionClock clock;
    auto member = clock.Join([woken] { SetEvent(woken); });
    ASSERT_TRUE(clock.WatchingDesktop());

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    char command[] = "hung_window_app.exe";
    ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(WaitForSingleObject(woken, 20000), WAIT_OBJECT_0) << "its window was reported";
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const auto start = std::chrono::steady_clock::now();
    member.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(clock.WatchingDesktop());
    CloseHandle(woken);
    kzb::inspection::SetDesktop(nullptr);
}

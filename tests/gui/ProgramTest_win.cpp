// KZBDKA.exe as a contact-centre agent meets it: start-up, the container and its status
// text, the call state in caption, tooltip and picture, the tray menu, the saved window
// settings, and the ways the program ends.
#include "ProgramFixture.h"

#include <string>

using nlohmann::json;
using namespace gui;

namespace {

std::string UserName()
{
    char name[257] = {};
    DWORD size = sizeof name;
    ::GetUserNameA(name, &size);
    return name;
}

json ManualSuppressionOn()
{
    return {{"manual_suppression", {{"id_config", ProgramTest::HostNameID(3)}, {"config", {{"enabled", true}}}}}};
}

// The colour most of the picture's middle shows.
COLORREF ColourInTheMiddleOf(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    HDC screen = ::GetDC(nullptr);
    const COLORREF colour = ::GetPixel(screen, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ::ReleaseDC(nullptr, screen);
    return colour;
}

bool Near(COLORREF colour, int red, int green, int blue)
{
    return std::abs(GetRValue(colour) - red) < 40 && std::abs(GetGValue(colour) - green) < 40 &&
           std::abs(GetBValue(colour) - blue) < 40;
}

// The menu's items as a person reaches them with the arrow keys from the top.
const std::vector<WORD> ShowHideItem{VK_DOWN};
const std::vector<WORD> AlwaysOnTopItem{VK_DOWN, VK_DOWN};
// A sub-menu opened with the keys starts on its first item.
const std::vector<WORD> InformationItem{VK_DOWN, VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN};
const std::vector<WORD> AboutItem{VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN};

} // namespace

TEST_F(ProgramTest, StartsWithItsLinesForOneTwoOrThreeRecorders)
{
    const struct
    {
        int recorders;
        const char* countLine;
    } cases[] = {
        {1, "1 recorder address acquired from registry."},
        {2, "2 recorder addresses acquired from registry."},
        {3, "3 recorder addresses acquired from registry. Only the first 2 will be used."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recorders);
        std::vector<std::string> addresses;
        std::string setting;
        for (int i = 0; i < c.recorders; ++i) {
            addresses.push_back(AddRecorder(Scenario(0)));
            setting += (i == 0 ? "" : " ") + ("\"" + addresses.back() + "\"");
        }
        SetMachineText("RecorderAddress", setting);
        SetUserNumber("LogLevel", 4);
        ::DeleteFileA((LogFolder() + "\\KZBDKA.txt").c_str());
        ASSERT_TRUE(StartProgram());

        ASSERT_TRUE(WaitForLog("Recorder 1 - Connected to DKA CTI Server"));
        EXPECT_EQ(LogCount("KZBDKA Version 0.1.0 (PID " + std::to_string(program.Id()) + ")"), 1u);
        EXPECT_EQ(LogCount("Using '" + LogFolder() + "\\' for minidumps"), 1u);
        EXPECT_EQ(LogCount("Current user is '" + UserName() + "'"), 1u);
        EXPECT_EQ(LogCount(c.countLine), 1u);
        EXPECT_EQ(LogCount("Recorder UpdateMode not set in registry."), 1u);
        EXPECT_EQ(LogCount("Successfully created tray icon"), 1u);
        for (int i = 0; i < c.recorders; ++i) {
            const std::string line = "Recorder " + std::to_string(i + 1) + ": Address: '" + addresses[i] + "'";
            EXPECT_EQ(LogCount(line), i < 2 ? 1u : 0u) << line;
        }
        EXPECT_EQ(ExitProgram(), std::optional<DWORD>(0));
    }
}

TEST_F(ProgramTest, WithoutARecorderAddressItSaysSoAndEnds)
{
    ASSERT_TRUE(program.Start());
    EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(1));
    EXPECT_EQ(LogCount("Could not acquire recorder IP address(es) from registry."), 1u);
    EXPECT_EQ(LogCount("No recorder address acquired from registry!"), 1u);
}

TEST_F(ProgramTest, TheCallStateShowsInTheCaptionTheTooltipAndThePicture)
{
    const std::string address = AddRecorder(Scenario(4, ManualSuppressionOn()));
    SetMachineText("RecorderAddress", address);
    SetUserNumber("ShowWindow", 1);
    ASSERT_TRUE(StartProgram());
    HWND picture = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return IsShown(picture = Control(IDC_STATUS_PICTURE, IDC_STATUS_PICTURE)); }));
    EXPECT_EQ(TextOf(program.Container()), "KZB Voralis");

    const struct
    {
        unsigned state;
        const char* title;
        int red, green, blue; // the picture's middle
    } states[] = {
        {2, "KZB Voralis - Suppressing", 230, 140, 20}, // between the pause bars
        {1, "KZB Voralis - Recording", 214, 40, 40},
        {18, "KZB Voralis - Suppressing and Discarding", 128, 128, 128}, // the bin
        {0, "KZB Voralis", 240, 240, 240},                               // an empty ring
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.title);
        Do(address, {{"op", "send"}, {"message", {{"name", "DKA_CALL_STATE"}, {"state", s.state}}}});
        EXPECT_TRUE(WaitUntil([&] { return TextOf(program.Container()) == s.title; })) << TextOf(program.Container());
        ASSERT_TRUE(TrayIconShown());
        EXPECT_EQ(HoverTrayIcon(), s.title);
        EXPECT_TRUE(WaitUntil([&] { return Near(ColourInTheMiddleOf(picture), s.red, s.green, s.blue); }))
            << std::hex << ColourInTheMiddleOf(picture);
        if (s.state == 2)
            Screenshot("call-state-suppressing", program.Id());
    }
    // The picture's own tooltip names the state.
    EXPECT_EQ(HoverTooltip(picture), "Idle");
}

TEST_F(ProgramTest, AnUnreachableSecondRecorderIsReportedUntilItComes)
{
    const std::string first = AddRecorder(Scenario(0));
    const std::string second = UnusedAddress();
    SetMachineText("RecorderAddress", first + " " + second);
    SetUserNumber("ShowWindow", 1);
    SetUserNumber("WindowLeft", 40);
    SetUserNumber("WindowTop", 40);
    ASSERT_TRUE(StartProgram());

    HWND text = nullptr;
    const std::string expected = "Not connected to the recorder at '" + second + "'";
    ASSERT_TRUE(WaitUntil([&] {
        text = Control(IDC_STATUS_TEXT, IDC_STATUS_TEXT);
        return text != nullptr && TextOf(text) == expected && IsShown(program.Container());
    })) << (text ? TextOf(text) : "no status text");
    HWND dialog = Dialog(IDC_STATUS_TEXT);
    const RECT textPlace = RectInParent(text);
    const RECT groupPlace = RectInParent(::GetDlgItem(dialog, IDC_STATUS_GROUP));
    const int height = textPlace.bottom - textPlace.top;
    EXPECT_GT(height, 0);
    EXPECT_EQ(textPlace.left, 10);
    EXPECT_EQ(textPlace.top, 20);
    EXPECT_EQ(textPlace.right - textPlace.left, 440);
    EXPECT_EQ(groupPlace.left, 5);
    EXPECT_EQ(groupPlace.top, 5);
    EXPECT_EQ(groupPlace.right - groupPlace.left, 450);
    EXPECT_EQ(groupPlace.bottom - groupPlace.top, height + 20);
    EXPECT_EQ(ClientSizeOf(dialog).cx, 460);
    EXPECT_EQ(ClientSizeOf(dialog).cy, height + 30);
    EXPECT_EQ(ClientSizeOf(program.Container()).cx, 460) << "the container fits the status dialog";
    Screenshot("container-status-text", program.Id());

    // The recorder comes: the message goes, and with nothing else to show so does the container.
    sim->AddRecorder({{"host", second}, {"port", 6471}, {"scenario", Scenario(0)}});
    EXPECT_TRUE(WaitUntil([&] { return !IsShown(dialog); }));
    EXPECT_TRUE(WaitUntil([&] { return !IsShown(program.Container()); })) << "nothing to show: no container";
    EXPECT_TRUE(WaitUntil([&] { return !TrayIconShown(); })) << "and no icon";
}

TEST_F(ProgramTest, TheTrayMenuShowsTheSettingsAndCarriesOutItsCommands)
{
    const std::string address = AddRecorder(Scenario(1, {{"pci", {{"id_config", HostNameID()},
                                                                  {"config", {{"methods", json::array()}}}}}}));
    SetMachineText("RecorderAddress", "127.0.0.250 " + address); // the first never answers: a status text
    SetUserNumber("ShowWindow", 1);
    SetUserNumber("LogLevel", 2);
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitUntil([&] { return IsShown(program.Container()); }));

    // The menu with its check marks, as drawn: the window shown, not on top, warnings.
    HWND menu = OpenTrayMenu();
    ASSERT_NE(menu, nullptr);
    const std::vector<bool> shownOnly{true, false, false, false};
    // Until it is drawn so: a look while the menu is being painted sees a part of it.
    std::vector<bool> seen;
    EXPECT_TRUE(WaitUntil([&] { return (seen = CheckedRows(menu, 4)) == shownOnly; }, 5s))
        << ::testing::PrintToString(seen);
    HoverMenuRow(menu, 4, 2);
    HWND levels = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        // The submenu is the other open menu (their order on screen is the window manager's).
        const std::vector<HWND> menus = program.OpenMenus();
        levels = menus.size() == 2 ? (menus.front() == menu ? menus.back() : menus.front()) : nullptr;
        return levels != nullptr;
    }));
    const std::vector<bool> warnings{false, false, true, false, false};
    EXPECT_TRUE(WaitUntil([&] { return (seen = CheckedRows(levels, 5)) == warnings; }, 5s))
        << ::testing::PrintToString(seen);
    Screenshot("tray-menu", program.Id());
    PressKeys(menu, {VK_ESCAPE, VK_ESCAPE});
    ASSERT_TRUE(WaitUntil([&] { return program.OpenMenu() == nullptr; }));

    // Show/Hide
    ChooseFromTrayMenu(ShowHideItem);
    EXPECT_TRUE(WaitUntil([&] { return !IsShown(program.Container()); }));
    EXPECT_TRUE(WaitForUserNumber("ShowWindow", 0));
    // ... and the icon's double click does the same.
    DoubleClickTrayIcon();
    EXPECT_TRUE(WaitUntil([&] { return IsShown(program.Container()); }));
    EXPECT_TRUE(WaitForUserNumber("ShowWindow", 1));

    // Always On Top
    ChooseFromTrayMenu(AlwaysOnTopItem);
    EXPECT_TRUE(WaitForUserNumber("AlwaysOnTop", 1));
    EXPECT_TRUE(WaitUntil([&] { return (::GetWindowLongA(program.Container(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }));
    menu = OpenTrayMenu();
    ASSERT_NE(menu, nullptr);
    const std::vector<bool> shownOnTop{true, true, false, false};
    EXPECT_TRUE(WaitUntil([&] { return (seen = CheckedRows(menu, 4)) == shownOnTop; }, 5s))
        << ::testing::PrintToString(seen);
    PressKeys(menu, {VK_ESCAPE});
    ASSERT_TRUE(WaitUntil([&] { return program.OpenMenu() == nullptr; }));

    // A log level: saved and applied.
    EXPECT_EQ(LogCount("DKA_TASKS message: Reinitializing Suppression Handler"), 0u);
    ChooseFromTrayMenu(InformationItem);
    EXPECT_TRUE(WaitForUserNumber("LogLevel", 4));
    Do(address, {{"op", "tasks"}, {"mask", 1}});
    EXPECT_TRUE(WaitForLog("Recorder 2 - DKA_TASKS message: Reinitializing Suppression Handler"));

    // About, one at a time.
    ChooseFromTrayMenu(AboutItem);
    HWND about = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (about = program.WindowTitled("About KZB Voralis")) != nullptr; }));
    EXPECT_EQ(TextOf(::GetDlgItem(about, IDC_VERSION)), "0.1.0");
    Screenshot("about-box", program.Id());
    DWORD_PTR ignored = 0;
    EXPECT_NE(::SendMessageTimeoutA(program.Frame(), WM_COMMAND, ID_APP_ABOUT, 0, SMTO_NORMAL, 5000, &ignored), 0)
        << "a second About while one is open returns at once";
    int open = 0;
    for (HWND window : TopLevelWindows(program.Id()))
        open += IsShown(window) && TextOf(window) == "About KZB Voralis";
    EXPECT_EQ(open, 1);
    ::PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return program.WindowTitled("About KZB Voralis") == nullptr; }));

    // Exit: every thread joined, the last lines written.
    EXPECT_EQ(ExitProgram(), std::optional<DWORD>(0));
    EXPECT_EQ(LogCount("Recorder 1 - CTCPComms object destroyed"), 1u);
    EXPECT_EQ(LogCount("Recorder 2 - CTCPComms object destroyed"), 1u);
    EXPECT_EQ(LogCount("Recorder 2 - CGeneralMessageHandler thread stopped"), 1u);
}

TEST_F(ProgramTest, MovingAndClosingTheContainerAreRemembered)
{
    SetMachineText("RecorderAddress", UnusedAddress()); // never answers: the status text shows
    SetUserNumber("ShowWindow", 1);
    SetUserNumber("WindowTop", static_cast<std::uint32_t>(-50));
    SetUserNumber("WindowLeft", 30);
    ASSERT_TRUE(StartProgram());
    HWND container = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return IsShown(container = program.Container()); }));
    RECT place{};
    ::GetWindowRect(container, &place);
    EXPECT_EQ(place.top, 0) << "a negative top starts at 0";
    EXPECT_EQ(place.left, 30);

    // Dragged to a new place and let go.
    ::SendMessageA(container, WM_ENTERSIZEMOVE, 0, 0);
    ::SetWindowPos(container, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageA(container, WM_EXITSIZEMOVE, 0, 0);
    EXPECT_TRUE(WaitForUserNumber("WindowLeft", 200));
    EXPECT_TRUE(WaitForUserNumber("WindowTop", 150));

    // Its close button hides it and remembers that.
    ::PostMessageA(container, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsShown(container); }));
    EXPECT_TRUE(WaitForUserNumber("ShowWindow", 0));
    EXPECT_TRUE(program.Running()) << "closing the window does not end the program";
}

TEST_F(ProgramTest, ShutdownReasonThreeFromTheOnlyRecorderClosesTheProgram)
{
    const std::string address = AddRecorder(Scenario(0));
    SetMachineText("RecorderAddress", address);
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLog("Recorder 1 - Connected to DKA CTI Server"));
    ASSERT_FALSE(Received(address, "DKA_ID", 0).is_null());
    Do(address, {{"op", "shutdown"}, {"reason", 3}, {"close", false}});
    EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
    EXPECT_EQ(LogCount("Recorder 1 - Terminating because the DKA CTI Server sent us a shutdown message with reason "
                       "SSR_Multiple_Client_Connections"),
              1u);
    EXPECT_EQ(LogCount("No GMH running - closing Voralis application"), 1u);
}

TEST_F(ProgramTest, ATrayIconThatCannotBeMadeEndsTheProgramWithItsMessage)
{
    SetMachineText("RecorderAddress", AddRecorder(Scenario(0)));
    ASSERT_TRUE(program.Start({{"KZBDKA_TEST_TRAY_REFUSED", "1"}, {"KZBDKA_TEST_TRAY_RETRY_MS", "100"}},
                              Program::TestBuild));
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = program.WindowTitled("KZB Voralis")) != nullptr; }));
    bool said = false;
    for (HWND child : Descendants(box))
        said = said || TextOf(child) == "Corvanta Voralis has failed to start.";
    EXPECT_TRUE(said);
    Screenshot("tray-icon-failed", program.Id());
    for (int attempt = 1; attempt <= 7; ++attempt)
        EXPECT_EQ(LogCount("OnCreate() - Failed to create tray icon (Attempt " + std::to_string(attempt) + ")"), 1u);
    EXPECT_EQ(LogCount("OnCreate() - Failed to create tray icon after 8 attempts - Terminating application"), 1u);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(1));
    EXPECT_EQ(LogCount("Recorder 1: Address"), 0u) << "no session was started";
}

// Drives KZBDKA.exe from outside, as a person at the desk would: it starts the program as a
// process of its own, finds its real windows, sends them the messages that clicks and keys
// send, and reads what is shown. Runs under Wine in the program's own desktop.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gui {

using namespace std::chrono_literals;

// Long enough for a loaded machine running everything under Wine.
constexpr std::chrono::milliseconds Patience = 30s;

// Polls the condition every 20 ms until it holds; false when the time-out passes first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = Patience);

// A window's text as WM_GETTEXT gives it (the message crosses processes).
std::string TextOf(HWND window);
std::string ClassOf(HWND window);
// Client size, and the window's rectangle in its parent's client coordinates.
SIZE ClientSizeOf(HWND window);
RECT RectInParent(HWND window);
bool IsShown(HWND window);

// Top-level windows of a process, in z-order.
std::vector<HWND> TopLevelWindows(DWORD processId);
// Descendants of a window with the given class (any class when empty).
std::vector<HWND> Descendants(HWND parent, const std::string& className = {});
// The dialog inside the container that holds the control number; null when none does.
HWND DialogHolding(HWND container, int controlId);

// The program, started with the given environment variables added to the test's.
class Program
{
public:
    // The shipped program, and its test build, which also reads the test-only variables
    // (KZBDKA_TEST_TRAY_REFUSED, KZBDKA_TEST_TRAY_RETRY_MS).
    static constexpr const char* Shipped = "KZBDKA.exe";
    static constexpr const char* TestBuild = "test-build\\KZBDKA.exe";

    Program() = default;
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Start(const std::vector<std::pair<std::string, std::string>>& environment = {},
               const char* program = Shipped);
    DWORD Id() const { return m_information.dwProcessId; }
    bool Running() const;
    // Its exit code once it has ended; none when it is still running after the time-out.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = Patience);
    void Kill();

    // The hidden main frame, and the container the agent sees; null until they exist.
    HWND Frame() const;
    HWND Container() const;
    // A top-level window of the program with that caption (e.g. the About box).
    HWND WindowTitled(const std::string& title) const;
    // The popup menu windows while a menu is open (a sub-menu after its menu); the first.
    std::vector<HWND> OpenMenus() const;
    HWND OpenMenu() const;

private:
    PROCESS_INFORMATION m_information{};
    bool m_started = false;
};

// Another program's window on the desktop (trigger_window_app.exe beside the tests), with
// the title given, until Close.
class TriggerWindow
{
public:
    explicit TriggerWindow(const std::string& title);
    ~TriggerWindow();
    TriggerWindow(const TriggerWindow&) = delete;
    TriggerWindow& operator=(const TriggerWindow&) = delete;

    bool Shown() const;
    void Close();

private:
    std::string m_title;
    PROCESS_INFORMATION m_process{};
    HANDLE m_input = nullptr;
};

// The notification area at the right of the desktop's taskbar: whether it shows the
// program's icon (the only one there in the tests), and the mouse on it.
bool TrayIconShown();
std::string HoverTrayIcon();
void RightClickTrayIcon();
void DoubleClickTrayIcon();

// Rests the mouse on the window until a tooltip of its program shows; the tooltip's text
// ("" when none showed).
std::string HoverTooltip(HWND window);

// The rows of an open menu window that show a check mark (the menu's items, top down).
std::vector<bool> CheckedRows(HWND menuWindow, int items);
// Rests the mouse on a row of an open menu (a sub-menu opens).
void HoverMenuRow(HWND menuWindow, int items, int row);

// Keys pressed while a menu is open: arrows and Enter.
void PressKeys(HWND target, const std::vector<WORD>& keys);

// A picture of the screen into build/results/screens/<name>.png (through the test driver),
// once the windows of the process (when given) have painted what they have to.
void Screenshot(const std::string& name, DWORD processId = 0);

} // namespace gui

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kzb::inspection {

// A window on the desktop; 0 is no window.
using WindowId = std::uintptr_t;
using WindowVisitor = std::function<bool(WindowId)>; // false stops the enumeration

// Finds the browser windows whose pages can be read.
class BrowserWindowFinder
{
public:
    virtual ~BrowserWindowFinder() = default;
    // Calls found for each browser window until it returns true; true when one did.
    virtual bool FindBrowserWindows(const WindowVisitor& found) = 0;
};

// What reading browser pages needs for as long as a browser method lives: on Windows COM
// for the constructing thread and the accessibility library, nothing elsewhere. Throws
// when they cannot be had. Copies share it, so that a page reader on another thread keeps
// what it uses for as long as it runs.
class BrowserPageAccess
{
public:
    struct Platform; // defined by each platform's page access

    BrowserPageAccess();
    ~BrowserPageAccess();
    BrowserPageAccess(const BrowserPageAccess&) = default;
    BrowserPageAccess& operator=(const BrowserPageAccess&) = default;

    const Platform* GetPlatform() const { return m_platform.get(); }

private:
    std::shared_ptr<const Platform> m_platform;
};

// The page shown in one browser window; empty texts when there is none.
class BrowserHTMLViewer
{
public:
    virtual ~BrowserHTMLViewer() = default;
    virtual std::string GetDomain() = 0;
    virtual std::string GetHTMLBody() = 0;
    virtual std::string GetTitle() = 0;
    virtual std::string GetURL() = 0;
};

// What the inspection methods read from the screen.
class DesktopWatcher;

class Desktop
{
public:
    virtual ~Desktop() = default;

    // Something that tells, as they happen, of changes that can make a trigger fire or stop;
    // null when this desktop cannot tell (it is then looked at every period only).
    virtual std::unique_ptr<DesktopWatcher> Watch(std::function<void()> changed);

    // Every top-level window, visible or not, in the system's order.
    virtual void EnumTopLevelWindows(const WindowVisitor& visit) = 0;
    virtual WindowId GetForegroundWindow() = 0;
    // The window's title, at most maxLength characters, read directly.
    virtual std::string GetWindowTitle(WindowId window, std::size_t maxLength) = 0;
    // Every descendant window of window.
    virtual void EnumChildWindows(WindowId window, const WindowVisitor& visit) = 0;
    // The text the window gives when asked, at most maxLength characters; empty when it does
    // not answer within the time-out.
    virtual std::string GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                             std::chrono::milliseconds timeout) = 0;
    // Who answers the window's messages: windows of one answerer answer or hang together.
    // The window itself where nothing more is known.
    virtual std::uintptr_t GetAnswerer(WindowId window) { return window; }
    // The next window of the class after `after` (0: the first) among the children of parent
    // (0: among the top-level windows); 0 when there is none. Throws when the system fails.
    virtual WindowId FindWindowByClass(WindowId parent, WindowId after, const std::string& className) = 0;

    virtual std::unique_ptr<BrowserWindowFinder> CreateBrowserWindowFinder() = 0;
    // The page in a window the finder gave; throws when the browser cannot be asked for it.
    virtual std::unique_ptr<BrowserHTMLViewer> OpenBrowserHTMLViewer(WindowId window,
                                                                     const BrowserPageAccess& access) = 0;
};

// The desktop the inspection methods read: the real one on Windows; natively a desktop
// without windows until a desktop file is chosen.
std::shared_ptr<Desktop> GetDesktop();
void SetDesktop(std::shared_ptr<Desktop> desktop);

// Whether the desktop shows the windows of this very process. The agent's own windows are
// never payment screens, and reading their texts from an inspection would wait for the
// agent's window thread; tests that play other applications in-process include them.
enum class OwnWindows
{
    Skipped,
    Included,
};

// The platform's own desktop.
std::shared_ptr<Desktop> CreateSystemDesktop(OwnWindows own = OwnWindows::Skipped);

} // namespace kzb::inspection

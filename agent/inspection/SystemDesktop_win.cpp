#include "ComSupport_win.h"
#include "Desktop.h"
#include "DesktopWatcher.h"
#include "IEBrowser_win.h"
#include "Library_win.h"

#include <windows.h>

#include <vector>

namespace kzb::inspection {

// What the IE page viewers need: COM on this thread, OleAcc and its ObjectFromLresult.
struct BrowserPageAccess::Platform
{
    ComInitialization com;
    ActiveAccessibilityLibrary accessibility;
};

BrowserPageAccess::BrowserPageAccess() : m_platform(std::make_shared<Platform>()) {}

BrowserPageAccess::~BrowserPageAccess() = default;

namespace {

BOOL CALLBACK VisitWindow(HWND window, LPARAM visitor)
{
    return (*reinterpret_cast<const WindowVisitor*>(visitor))(ToId(window)) ? TRUE : FALSE;
}

bool IsOwnWindow(HWND window)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    return process == ::GetCurrentProcessId();
}

struct TopLevelVisit
{
    const WindowVisitor& visit;
    bool skipOwn;
};

BOOL CALLBACK VisitTopLevelWindow(HWND window, LPARAM context)
{
    const auto& visit = *reinterpret_cast<const TopLevelVisit*>(context);
    if (visit.skipOwn && IsOwnWindow(window))
        return TRUE;
    return visit.visit(ToId(window)) ? TRUE : FALSE;
}

class SystemDesktop : public Desktop
{
public:
    explicit SystemDesktop(OwnWindows own) : m_skipOwn(own == OwnWindows::Skipped) {}

    void EnumTopLevelWindows(const WindowVisitor& visit) override
    {
        TopLevelVisit context{visit, m_skipOwn};
        ::EnumWindows(&VisitTopLevelWindow, reinterpret_cast<LPARAM>(&context));
    }

    WindowId GetForegroundWindow() override { return ToId(::GetForegroundWindow()); }

    std::unique_ptr<DesktopWatcher> Watch(std::function<void()> changed) override
    {
        return WatchSystemDesktop(std::move(changed));
    }

    std::string GetWindowTitle(WindowId window, std::size_t maxLength) override
    {
        std::vector<char> buffer(maxLength + 1, '\0');
        const int length = ::GetWindowTextA(ToHandle(window), buffer.data(), static_cast<int>(buffer.size()));
        return std::string(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    }

    void EnumChildWindows(WindowId window, const WindowVisitor& visit) override
    {
        ::EnumChildWindows(ToHandle(window), &VisitWindow, reinterpret_cast<LPARAM>(&visit));
    }

    std::string GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                     std::chrono::milliseconds timeout) override
    {
        std::vector<char> buffer(maxLength + 1, '\0');
        DWORD_PTR copied = 0;
        const LRESULT sent = ::SendMessageTimeoutA(ToHandle(window), WM_GETTEXT, buffer.size(),
                                                   reinterpret_cast<LPARAM>(buffer.data()),
                                                   SMTO_BLOCK | SMTO_ABORTIFHUNG,
                                                   static_cast<UINT>(timeout.count()), &copied);
        if (sent == 0)
            return {};
        return std::string(buffer.data()); // up to the NUL the window wrote
    }

    std::uintptr_t GetAnswerer(WindowId window) override
    {
        return ::GetWindowThreadProcessId(ToHandle(window), nullptr);
    }

    WindowId FindWindowByClass(WindowId parent, WindowId after, const std::string& className) override
    {
        HWND found = ToHandle(after);
        do {
            found = FindNextWindow(ToHandle(parent), found, className.c_str());
        } while (found != nullptr && parent == 0 && m_skipOwn && IsOwnWindow(found));
        return ToId(found);
    }

    std::unique_ptr<BrowserWindowFinder> CreateBrowserWindowFinder() override
    {
        return std::make_unique<IEWindowFinder>();
    }

    std::unique_ptr<BrowserHTMLViewer> OpenBrowserHTMLViewer(WindowId window, const BrowserPageAccess& access) override
    {
        // Pages are read on threads of their own, each in the multithreaded apartment.
        thread_local ComInitialization com;
        return std::make_unique<IEHTMLViewer>(ToHandle(window), access.GetPlatform()->accessibility);
    }

private:
    const bool m_skipOwn;
};

} // namespace

std::shared_ptr<Desktop> CreateSystemDesktop(OwnWindows own)
{
    return std::make_shared<SystemDesktop>(own);
}

} // namespace kzb::inspection

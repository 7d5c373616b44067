#include "Desktop.h"

#include <windows.h>

#include <vector>

namespace kzb::inspection {

namespace {

HWND ToHandle(WindowId window)
{
    return reinterpret_cast<HWND>(window);
}

WindowId ToId(HWND window)
{
    return reinterpret_cast<WindowId>(window);
}

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

// Internet Explorer pages are not read yet: no browser windows.
class NoBrowserWindows : public BrowserWindowFinder
{
public:
    bool FindBrowserWindows(const WindowVisitor&) override { return false; }
};

class NoPage : public BrowserHTMLViewer
{
public:
    std::string GetDomain() override { return {}; }
    std::string GetHTMLBody() override { return {}; }
    std::string GetTitle() override { return {}; }
    std::string GetURL() override { return {}; }
};

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

    WindowId FindWindowByClass(WindowId parent, WindowId after, const std::string& className) override
    {
        HWND found = ToHandle(after);
        do {
            found = ::FindWindowExA(ToHandle(parent), found, className.c_str(), nullptr);
        } while (found != nullptr && parent == 0 && m_skipOwn && IsOwnWindow(found));
        return ToId(found);
    }

    std::unique_ptr<BrowserWindowFinder> CreateBrowserWindowFinder() override
    {
        return std::make_unique<NoBrowserWindows>();
    }

    std::unique_ptr<BrowserHTMLViewer> OpenBrowserHTMLViewer(WindowId) override { return std::make_unique<NoPage>(); }

private:
    const bool m_skipOwn;
};

} // namespace

std::shared_ptr<Desktop> CreateSystemDesktop(OwnWindows own)
{
    return std::make_shared<SystemDesktop>(own);
}

} // namespace kzb::inspection

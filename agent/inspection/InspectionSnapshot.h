#pragma once

#include "Desktop.h"

#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kzb::inspection {

// While one exists, GetDesktop() on this thread gives a view of the desktop that reads
// each window list, title, child text and browser page once, so that the methods of one
// inspection share the work (and a hung child window or browser costs its time-out once,
// not once per method).
class InspectionSnapshot
{
public:
    InspectionSnapshot();
    ~InspectionSnapshot();
    InspectionSnapshot(const InspectionSnapshot&) = delete;
    InspectionSnapshot& operator=(const InspectionSnapshot&) = delete;

private:
    std::shared_ptr<Desktop> m_previous;
};

// The caching view itself.
class CachingDesktop : public Desktop
{
public:
    explicit CachingDesktop(std::shared_ptr<Desktop> desktop) : m_desktop(std::move(desktop)) {}

    void EnumTopLevelWindows(const WindowVisitor& visit) override;
    WindowId GetForegroundWindow() override;
    std::string GetWindowTitle(WindowId window, std::size_t maxLength) override;
    void EnumChildWindows(WindowId window, const WindowVisitor& visit) override;
    std::string GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                     std::chrono::milliseconds timeout) override;
    WindowId FindWindowByClass(WindowId parent, WindowId after, const std::string& className) override;
    std::unique_ptr<BrowserWindowFinder> CreateBrowserWindowFinder() override;
    std::unique_ptr<BrowserHTMLViewer> OpenBrowserHTMLViewer(WindowId window, const BrowserPageAccess& access) override;

private:
    using TextKey = std::pair<WindowId, std::size_t>;
    struct BrowserWindows; // what the finder gave, and how its search ended
    struct Page;           // one window's page, each property read once
    class SharedFinder;
    class SharedViewer;

    std::shared_ptr<Desktop> m_desktop;
    std::optional<std::vector<WindowId>> m_topLevel;
    std::optional<WindowId> m_foreground;
    std::map<WindowId, std::vector<WindowId>> m_children;
    std::map<TextKey, std::string> m_titles;
    std::map<TextKey, std::string> m_texts;
    std::shared_ptr<const BrowserWindows> m_browsers;
    std::map<WindowId, std::shared_ptr<Page>> m_pages;
};

} // namespace kzb::inspection

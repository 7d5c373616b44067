#pragma once

#include "Desktop.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kzb::inspection {

// A desktop described by a JSON file, for running and testing the agent without Windows:
//
//   {"windows": [{"title": "...", "class": "...", "visible": true, "foreground": false,
//                 "children": [{"text": "...", "class": "...", "responds": true}],
//                 "page": {"title": "...", "url": "...", "domain": "...", "body": "..."}}]}
//
// Only "title" is required. A window with a "page" is a browser window. The file is read
// again whenever it changes; a missing or unreadable file is a desktop without windows.
class DesktopFile : public Desktop
{
public:
    explicit DesktopFile(std::filesystem::path path);

    void EnumTopLevelWindows(const WindowVisitor& visit) override;
    WindowId GetForegroundWindow() override;
    std::string GetWindowTitle(WindowId window, std::size_t maxLength) override;
    void EnumChildWindows(WindowId window, const WindowVisitor& visit) override;
    std::string GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                     std::chrono::milliseconds timeout) override;
    WindowId FindWindowByClass(WindowId parent, WindowId after, const std::string& className) override;
    std::unique_ptr<BrowserWindowFinder> CreateBrowserWindowFinder() override;
    std::unique_ptr<BrowserHTMLViewer> OpenBrowserHTMLViewer(WindowId window, const BrowserPageAccess& access) override;
    // Its folder watched for the file being written or replaced.
    std::unique_ptr<DesktopWatcher> Watch(std::function<void()> changed) override;

    struct Page
    {
        std::string title, url, domain, body;
    };
    struct Child
    {
        std::string text, className;
        bool responds = true;
    };
    struct Window
    {
        std::string title, className;
        bool visible = true, foreground = false;
        std::vector<Child> children;
        std::optional<Page> page;
    };

private:
    using Windows = std::vector<Window>;

    // The windows as last read; reads the file again first when refresh is set and its time
    // stamp or size changed. Enumerations refresh, per-window reads do not.
    std::shared_ptr<const Windows> Current(bool refresh);
    std::shared_ptr<const Windows> Load();

    std::filesystem::path m_path;
    std::mutex m_mutex;
    std::shared_ptr<const Windows> m_windows;
    std::optional<std::filesystem::file_time_type> m_stamp;
    std::uintmax_t m_size = 0;
    bool m_checked = false;
};

} // namespace kzb::inspection

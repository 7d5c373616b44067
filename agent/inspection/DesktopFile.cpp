#include "DesktopFile.h"

#include "DesktopWatcher.h"
#include "Log.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace kzb::inspection {

namespace {

// Top-level window i is (i + 1) << 16; its child j adds j + 1.
constexpr unsigned ChildBits = 16;
constexpr WindowId ChildMask = (WindowId{1} << ChildBits) - 1;

WindowId TopLevelId(std::size_t index)
{
    return static_cast<WindowId>(index + 1) << ChildBits;
}

// The top-level window that id is or belongs to.
const DesktopFile::Window* TopLevel(const std::vector<DesktopFile::Window>& windows, WindowId id)
{
    const std::size_t index = (id >> ChildBits) - 1;
    return id != 0 && index < windows.size() ? &windows[index] : nullptr;
}

// The child that id is, if it is one.
const DesktopFile::Child* ChildWindow(const std::vector<DesktopFile::Window>& windows, WindowId id)
{
    const DesktopFile::Window* top = TopLevel(windows, id);
    const std::size_t child = id & ChildMask;
    return top && child != 0 && child <= top->children.size() ? &top->children[child - 1] : nullptr;
}

bool IsTopLevel(WindowId id)
{
    return (id & ChildMask) == 0;
}

std::string Truncated(const std::string& text, std::size_t maxLength)
{
    return text.substr(0, maxLength);
}

DesktopFile::Window ReadWindow(const nlohmann::json& json)
{
    DesktopFile::Window window;
    window.title = json.at("title").get<std::string>();
    window.className = json.value("class", "");
    window.visible = json.value("visible", true);
    window.foreground = json.value("foreground", false);
    for (const auto& child : json.value("children", nlohmann::json::array())) {
        window.children.push_back(
            {child.value("text", ""), child.value("class", ""), child.value("responds", true)});
    }
    if (json.contains("page")) {
        const auto& page = json.at("page");
        window.page = DesktopFile::Page{page.value("title", ""), page.value("url", ""), page.value("domain", ""),
                                        page.value("body", "")};
    }
    return window;
}

class PageViewer : public BrowserHTMLViewer
{
public:
    explicit PageViewer(DesktopFile::Page page) : m_page(std::move(page)) {}
    std::string GetDomain() override { return m_page.domain; }
    std::string GetHTMLBody() override { return m_page.body; }
    std::string GetTitle() override { return m_page.title; }
    std::string GetURL() override { return m_page.url; }

private:
    DesktopFile::Page m_page;
};

} // namespace

DesktopFile::DesktopFile(std::filesystem::path path) : m_path(std::move(path)), m_windows(std::make_shared<Windows>())
{
}

std::shared_ptr<const DesktopFile::Windows> DesktopFile::Current(bool refresh)
{
    std::lock_guard lock(m_mutex);
    if (!refresh)
        return m_windows;

    std::error_code error;
    std::optional<std::filesystem::file_time_type> stamp;
    std::uintmax_t size = 0;
    if (const auto time = std::filesystem::last_write_time(m_path, error); !error) {
        stamp = time;
        size = std::filesystem::file_size(m_path, error);
    }
    if (m_checked && stamp == m_stamp && size == m_size)
        return m_windows;

    m_checked = true;
    m_stamp = stamp;
    m_size = size;
    m_windows = Load();
    return m_windows;
}

std::shared_ptr<const DesktopFile::Windows> DesktopFile::Load()
{
    auto windows = std::make_shared<Windows>();
    if (m_path.empty())
        return windows;
    std::ifstream in(m_path);
    if (!in) {
        AGENT_LOG(kzb::log::Warning, "Desktop file '%s' cannot be read; the desktop has no windows",
                m_path.string().c_str());
        return windows;
    }
    try {
        const auto json = nlohmann::json::parse(in);
        for (const auto& window : json.at("windows"))
            windows->push_back(ReadWindow(window));
    } catch (const std::exception& e) {
        AGENT_LOG(kzb::log::Warning, "Desktop file '%s' is not a valid desktop (%s); the desktop has no windows",
                m_path.string().c_str(), e.what());
        windows->clear();
    }
    return windows;
}

void DesktopFile::EnumTopLevelWindows(const WindowVisitor& visit)
{
    const auto windows = Current(true);
    for (std::size_t i = 0; i < windows->size(); ++i) {
        if (!visit(TopLevelId(i)))
            return;
    }
}

WindowId DesktopFile::GetForegroundWindow()
{
    const auto windows = Current(true);
    for (std::size_t i = 0; i < windows->size(); ++i) {
        if ((*windows)[i].foreground)
            return TopLevelId(i);
    }
    return 0;
}

std::string DesktopFile::GetWindowTitle(WindowId window, std::size_t maxLength)
{
    const auto windows = Current(false);
    if (IsTopLevel(window)) {
        const Window* top = TopLevel(*windows, window);
        return top ? Truncated(top->title, maxLength) : std::string();
    }
    const Child* child = ChildWindow(*windows, window);
    return child ? Truncated(child->text, maxLength) : std::string();
}

void DesktopFile::EnumChildWindows(WindowId window, const WindowVisitor& visit)
{
    const auto windows = Current(false);
    const Window* top = IsTopLevel(window) ? TopLevel(*windows, window) : nullptr;
    if (top == nullptr)
        return;
    for (std::size_t j = 0; j < top->children.size(); ++j) {
        if (!visit(window | (j + 1)))
            return;
    }
}

std::string DesktopFile::GetWindowTextTimeout(WindowId window, std::size_t maxLength, std::chrono::milliseconds)
{
    if (IsTopLevel(window))
        return GetWindowTitle(window, maxLength);
    const auto windows = Current(false);
    const Child* child = ChildWindow(*windows, window);
    return child && child->responds ? Truncated(child->text, maxLength) : std::string();
}

WindowId DesktopFile::FindWindowByClass(WindowId parent, WindowId after, const std::string& className)
{
    const auto windows = Current(parent == 0 && after == 0);
    if (parent == 0) {
        for (std::size_t i = after == 0 ? 0 : (after >> ChildBits); i < windows->size(); ++i) {
            if ((*windows)[i].className == className)
                return TopLevelId(i);
        }
        return 0;
    }
    const Window* top = IsTopLevel(parent) ? TopLevel(*windows, parent) : nullptr;
    if (top == nullptr)
        return 0;
    for (std::size_t j = after == 0 ? 0 : (after & ChildMask); j < top->children.size(); ++j) {
        if (top->children[j].className == className)
            return parent | (j + 1);
    }
    return 0;
}

namespace {

// Every window of the desktop file that shows a page, in order.
class PageWindowFinder : public BrowserWindowFinder
{
public:
    explicit PageWindowFinder(std::vector<WindowId> windows) : m_windows(std::move(windows)) {}
    bool FindBrowserWindows(const WindowVisitor& found) override
    {
        for (WindowId window : m_windows) {
            if (found(window))
                return true;
        }
        return false;
    }

private:
    std::vector<WindowId> m_windows;
};

} // namespace

std::unique_ptr<BrowserWindowFinder> DesktopFile::CreateBrowserWindowFinder()
{
    const auto windows = Current(true);
    std::vector<WindowId> browsers;
    for (std::size_t i = 0; i < windows->size(); ++i) {
        if ((*windows)[i].page)
            browsers.push_back(TopLevelId(i));
    }
    return std::make_unique<PageWindowFinder>(std::move(browsers));
}

std::unique_ptr<BrowserHTMLViewer> DesktopFile::OpenBrowserHTMLViewer(WindowId window, const BrowserPageAccess&)
{
    const auto windows = Current(false);
    const Window* top = IsTopLevel(window) ? TopLevel(*windows, window) : nullptr;
    return std::make_unique<PageViewer>(top && top->page ? *top->page : Page{});
}

std::unique_ptr<DesktopWatcher> DesktopFile::Watch(std::function<void()> changed)
{
    return WatchFile(m_path, std::move(changed));
}

} // namespace kzb::inspection

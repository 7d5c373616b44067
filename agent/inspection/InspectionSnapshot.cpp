#include "InspectionSnapshot.h"

#include "TextFormat.h"

#include <exception>

namespace kzb::inspection {

namespace {

std::vector<WindowId> Collect(const std::function<void(const WindowVisitor&)>& enumerate)
{
    std::vector<WindowId> windows;
    enumerate([&](WindowId window) {
        windows.push_back(window);
        return true;
    });
    return windows;
}

void Visit(const std::vector<WindowId>& windows, const WindowVisitor& visit)
{
    for (WindowId window : windows) {
        if (!visit(window))
            return;
    }
}

} // namespace

const std::vector<WindowId>& CachingDesktop::TopLevel()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!m_topLevel)
        m_topLevel = Collect([this](const WindowVisitor& v) { m_desktop->EnumTopLevelWindows(v); });
    return *m_topLevel;
}

const CachingDesktop::Text& CachingDesktop::Title(WindowId window, std::size_t maxLength)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const TextKey key{window, maxLength};
    auto found = m_titles.find(key);
    if (found == m_titles.end())
        found = m_titles.emplace(key, Text(m_desktop->GetWindowTitle(window, maxLength))).first;
    return found->second;
}

const std::vector<CachingDesktop::TitledWindow>& CachingDesktop::TopLevelTitles(std::size_t maxLength)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto found = m_topLevelTitles.find(maxLength);
    if (found == m_topLevelTitles.end()) {
        // Read straight into the list: a snapshot of hundreds of windows makes no copies.
        const std::vector<WindowId>& topLevel = TopLevel();
        std::vector<TitledWindow> windows;
        windows.reserve(topLevel.size());
        for (WindowId window : topLevel)
            windows.push_back({window, Text(m_desktop->GetWindowTitle(window, maxLength))});
        found = m_topLevelTitles.emplace(maxLength, std::move(windows)).first;
    }
    return found->second;
}

const CachingDesktop::TitledWindow& CachingDesktop::Foreground(std::size_t maxLength)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto found = m_foregroundTitles.find(maxLength);
    if (found == m_foregroundTitles.end()) {
        const WindowId window = GetForegroundWindow();
        found = m_foregroundTitles.emplace(maxLength, TitledWindow{window, window ? Title(window, maxLength) : Text{}})
                    .first;
    }
    return found->second;
}

const std::vector<WindowId>& CachingDesktop::Children(WindowId window)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto found = m_children.find(window);
    if (found == m_children.end()) {
        found = m_children
                    .emplace(window, Collect([&](const WindowVisitor& v) { m_desktop->EnumChildWindows(window, v); }))
                    .first;
    }
    return found->second;
}

const CachingDesktop::Text& CachingDesktop::WindowText(WindowId window, std::size_t maxLength,
                                                       std::chrono::milliseconds timeout)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const TextKey key{window, maxLength};
    auto found = m_texts.find(key);
    if (found == m_texts.end())
        found = m_texts.emplace(key, Text(m_desktop->GetWindowTextTimeout(window, maxLength, timeout))).first;
    return found->second;
}

void CachingDesktop::EnumTopLevelWindows(const WindowVisitor& visit)
{
    Visit(TopLevel(), visit);
}

WindowId CachingDesktop::GetForegroundWindow()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!m_foreground)
        m_foreground = m_desktop->GetForegroundWindow();
    return *m_foreground;
}

std::string CachingDesktop::GetWindowTitle(WindowId window, std::size_t maxLength)
{
    return Title(window, maxLength).text;
}

void CachingDesktop::EnumChildWindows(WindowId window, const WindowVisitor& visit)
{
    Visit(Children(window), visit);
}

std::string CachingDesktop::GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                                 std::chrono::milliseconds timeout)
{
    return WindowText(window, maxLength, timeout).text;
}

WindowId CachingDesktop::FindWindowByClass(WindowId parent, WindowId after, const std::string& className)
{
    return m_desktop->FindWindowByClass(parent, after, className);
}

struct CachingDesktop::BrowserWindows
{
    std::vector<WindowId> windows;
    std::exception_ptr failure; // the search failed after these windows
};

// Gives the windows again; the failure comes where the search failed, so a method that
// stops at an earlier window never sees it.
class CachingDesktop::SharedFinder : public BrowserWindowFinder
{
public:
    explicit SharedFinder(std::shared_ptr<const BrowserWindows> browsers) : m_browsers(std::move(browsers)) {}
    bool FindBrowserWindows(const WindowVisitor& found) override
    {
        for (WindowId window : m_browsers->windows) {
            if (found(window))
                return true;
        }
        if (m_browsers->failure)
            std::rethrow_exception(m_browsers->failure);
        return false;
    }

private:
    std::shared_ptr<const BrowserWindows> m_browsers;
};

std::unique_ptr<BrowserWindowFinder> CachingDesktop::CreateBrowserWindowFinder()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!m_browsers) {
        auto browsers = std::make_shared<BrowserWindows>();
        try {
            m_desktop->CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId window) {
                browsers->windows.push_back(window);
                return false;
            });
        } catch (...) {
            browsers->failure = std::current_exception();
        }
        m_browsers = std::move(browsers);
    }
    return std::make_unique<SharedFinder>(m_browsers);
}

struct CachingDesktop::Page
{
    std::mutex mutex; // the properties are read by whichever thread asks first
    std::unique_ptr<BrowserHTMLViewer> viewer;
    std::exception_ptr failure; // the page could not be opened
    std::optional<std::string> domain, body, title, url;
};

class CachingDesktop::SharedViewer : public BrowserHTMLViewer
{
public:
    explicit SharedViewer(std::shared_ptr<Page> page) : m_page(std::move(page)) {}
    std::string GetDomain() override { return Read(m_page->domain, &BrowserHTMLViewer::GetDomain); }
    std::string GetHTMLBody() override { return Read(m_page->body, &BrowserHTMLViewer::GetHTMLBody); }
    std::string GetTitle() override { return Read(m_page->title, &BrowserHTMLViewer::GetTitle); }
    std::string GetURL() override { return Read(m_page->url, &BrowserHTMLViewer::GetURL); }

private:
    std::string Read(std::optional<std::string>& cached, std::string (BrowserHTMLViewer::*get)())
    {
        std::lock_guard<std::mutex> lock(m_page->mutex);
        if (!cached)
            cached = (m_page->viewer.get()->*get)();
        return *cached;
    }

    std::shared_ptr<Page> m_page;
};

std::unique_ptr<BrowserHTMLViewer> CachingDesktop::OpenBrowserHTMLViewer(WindowId window,
                                                                         const BrowserPageAccess& access)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::shared_ptr<Page>& page = m_pages[window];
    if (!page) {
        page = std::make_shared<Page>();
        try {
            page->viewer = m_desktop->OpenBrowserHTMLViewer(window, access);
        } catch (...) {
            page->failure = std::current_exception();
        }
    }
    if (page->failure)
        std::rethrow_exception(page->failure);
    return std::make_unique<SharedViewer>(page);
}

} // namespace kzb::inspection

#include "PageSource.h"

#include "Log.h"

#include <exception>

namespace kzb::inspection {

namespace {

// Window ids of reported pages: far above any handle Windows gives out or a desktop file uses.
constexpr WindowId PageWindowBase = WindowId{0x5A} << 48;
constexpr WindowId PageWindowMask = ~((WindowId{1} << 48) - 1);

} // namespace

bool PageSource::IsPageWindow(WindowId window)
{
    return (window & PageWindowMask) == PageWindowBase;
}

PageSource::ConnectionId PageSource::Connect()
{
    std::lock_guard lock(m_mutex);
    const ConnectionId id = m_nextConnection++;
    m_connections[id] = true;
    return id;
}

void PageSource::Disconnect(ConnectionId connection)
{
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        m_connections.erase(connection);
        for (auto it = m_pages.lower_bound({connection, INT64_MIN}); it != m_pages.end() && it->first.first == connection;) {
            it = m_pages.erase(it);
            changed = true;
        }
    }
    if (changed)
        Changed();
}

bool PageSource::Store(ConnectionId connection, const ReportedPage& reported)
{
    auto page = std::make_shared<Page>();
    page->title = reported.title;
    page->url = reported.url;
    page->domain = reported.domain;
    page->body = reported.body.value_or(std::string());
    Entry& entry = m_pages[{connection, reported.window}];
    if (entry.id == 0) {
        entry.id = PageWindowBase | m_nextWindow++;
        entry.order = m_nextOrder++;
    } else if (entry.page && entry.page->title == page->title && entry.page->url == page->url &&
               entry.page->domain == page->domain && entry.page->body == page->body) {
        return false;
    }
    entry.page = std::move(page);
    return true;
}

void PageSource::Apply(ConnectionId connection, const PageMessage& message)
{
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_connections.count(connection) == 0)
            return;
        switch (message.kind) {
        case PageMessage::Kind::Page:
            for (const ReportedPage& page : message.pages)
                changed = Store(connection, page) || changed;
            break;
        case PageMessage::Kind::Snapshot: {
            // Windows the snapshot does not name are gone.
            std::map<std::int64_t, bool> named;
            for (const ReportedPage& page : message.pages) {
                named[page.window] = true;
                changed = Store(connection, page) || changed;
            }
            for (auto it = m_pages.lower_bound({connection, INT64_MIN});
                 it != m_pages.end() && it->first.first == connection;) {
                if (named.count(it->first.second) == 0) {
                    it = m_pages.erase(it);
                    changed = true;
                } else {
                    ++it;
                }
            }
            break;
        }
        case PageMessage::Kind::Closed:
            changed = m_pages.erase({connection, message.window}) > 0;
            break;
        case PageMessage::Kind::Hello:
        case PageMessage::Kind::Bodies:
            break;
        }
    }
    if (changed)
        Changed();
}

std::vector<std::pair<WindowId, std::shared_ptr<const PageSource::Page>>> PageSource::Pages()
{
    std::lock_guard lock(m_mutex);
    std::map<std::uint64_t, std::pair<WindowId, std::shared_ptr<const Page>>> ordered;
    for (const auto& [key, entry] : m_pages)
        ordered[entry.order] = {entry.id, entry.page};
    std::vector<std::pair<WindowId, std::shared_ptr<const Page>>> pages;
    pages.reserve(ordered.size());
    for (auto& [order, page] : ordered)
        pages.push_back(std::move(page));
    return pages;
}

std::shared_ptr<const PageSource::Page> PageSource::Find(WindowId window)
{
    std::lock_guard lock(m_mutex);
    for (const auto& [key, entry] : m_pages) {
        if (entry.id == window)
            return entry.page;
    }
    return nullptr;
}

std::size_t PageSource::Count(ConnectionId connection)
{
    std::lock_guard lock(m_mutex);
    std::size_t count = 0;
    for (auto it = m_pages.lower_bound({connection, INT64_MIN}); it != m_pages.end() && it->first.first == connection;
         ++it)
        ++count;
    return count;
}

class PageSource::Watcher : public DesktopWatcher
{
public:
    Watcher(PageSource& source, std::uint64_t token) : m_source(source), m_token(token) {}
    ~Watcher() override { m_source.Unwatch(m_token); }

private:
    PageSource& m_source;
    const std::uint64_t m_token;
};

std::unique_ptr<DesktopWatcher> PageSource::Watch(std::function<void()> changed)
{
    auto listener = std::make_shared<Listener>();
    listener->changed = std::move(changed);
    std::lock_guard lock(m_listMutex);
    const std::uint64_t token = m_nextToken++;
    m_listeners[token] = std::move(listener);
    return std::make_unique<Watcher>(*this, token);
}

void PageSource::Unwatch(std::uint64_t token)
{
    std::shared_ptr<Listener> listener;
    {
        std::lock_guard lock(m_listMutex);
        const auto found = m_listeners.find(token);
        if (found == m_listeners.end())
            return;
        listener = std::move(found->second);
        m_listeners.erase(found);
    }
    std::lock_guard lock(listener->mutex);
    listener->active = false;
}

void PageSource::Changed()
{
    std::vector<std::shared_ptr<Listener>> listeners;
    {
        std::lock_guard lock(m_listMutex);
        for (const auto& [token, listener] : m_listeners)
            listeners.push_back(listener);
    }
    for (const auto& listener : listeners) {
        std::lock_guard lock(listener->mutex);
        if (listener->active)
            listener->changed();
    }
}

void PageSource::NoteBodyRead(Clock::time_point now)
{
    {
        std::lock_guard lock(m_mutex);
        m_lastBodyRead = now;
        if (m_bodiesWanted)
            return;
        m_bodiesWanted = true;
    }
    DemandChanged();
}

void PageSource::NoteInspection(Clock::time_point now)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_bodiesWanted || now - m_lastBodyRead < BodyDemandLinger)
            return;
        m_bodiesWanted = false;
    }
    DemandChanged();
}

bool PageSource::BodiesWanted()
{
    std::lock_guard lock(m_mutex);
    return m_bodiesWanted;
}

void PageSource::SetBodiesNotice(std::function<void()> notice)
{
    std::lock_guard lock(m_noticeMutex);
    m_bodiesNotice = std::move(notice);
}

void PageSource::DemandChanged()
{
    std::lock_guard lock(m_noticeMutex);
    if (m_bodiesNotice)
        m_bodiesNotice();
}

namespace {

class ReportedPageViewer : public BrowserHTMLViewer
{
public:
    ReportedPageViewer(std::shared_ptr<const PageSource::Page> page, std::shared_ptr<PageSource> source)
        : m_page(std::move(page)), m_source(std::move(source))
    {
    }
    std::string GetDomain() override { return m_page ? m_page->domain : std::string(); }
    std::string GetHTMLBody() override
    {
        m_source->NoteBodyRead(PageSource::Clock::now());
        return m_page ? m_page->body : std::string();
    }
    std::string GetTitle() override { return m_page ? m_page->title : std::string(); }
    std::string GetURL() override { return m_page ? m_page->url : std::string(); }

private:
    std::shared_ptr<const PageSource::Page> m_page;
    std::shared_ptr<PageSource> m_source;
};

class PagesFinder : public BrowserWindowFinder
{
public:
    PagesFinder(std::unique_ptr<BrowserWindowFinder> desktop, std::vector<WindowId> pages)
        : m_desktop(std::move(desktop)), m_pages(std::move(pages))
    {
    }
    // A desktop search that fails (a hung Internet Explorer) does not hide the reported pages:
    // they are still looked at, and the failure comes after them when none matched.
    bool FindBrowserWindows(const WindowVisitor& found) override
    {
        std::exception_ptr failure;
        try {
            if (m_desktop && m_desktop->FindBrowserWindows(found))
                return true;
        } catch (...) {
            failure = std::current_exception();
        }
        for (WindowId page : m_pages) {
            if (found(page))
                return true;
        }
        if (failure)
            std::rethrow_exception(failure);
        return false;
    }

private:
    std::unique_ptr<BrowserWindowFinder> m_desktop;
    std::vector<WindowId> m_pages;
};

class BothWatcher : public DesktopWatcher
{
public:
    BothWatcher(std::unique_ptr<DesktopWatcher> desktop, std::unique_ptr<DesktopWatcher> pages)
        : m_desktop(std::move(desktop)), m_pages(std::move(pages))
    {
    }

private:
    std::unique_ptr<DesktopWatcher> m_desktop;
    std::unique_ptr<DesktopWatcher> m_pages;
};

} // namespace

BrowserPagesDesktop::BrowserPagesDesktop(std::shared_ptr<Desktop> desktop, std::shared_ptr<PageSource> pages)
    : m_desktop(std::move(desktop)), m_pages(std::move(pages))
{
}

std::unique_ptr<DesktopWatcher> BrowserPagesDesktop::Watch(std::function<void()> changed)
{
    auto desktop = m_desktop->Watch(changed);
    return std::make_unique<BothWatcher>(std::move(desktop), m_pages->Watch(std::move(changed)));
}

void BrowserPagesDesktop::EnumTopLevelWindows(const WindowVisitor& visit)
{
    m_desktop->EnumTopLevelWindows(visit);
}

WindowId BrowserPagesDesktop::GetForegroundWindow()
{
    return m_desktop->GetForegroundWindow();
}

std::string BrowserPagesDesktop::GetWindowTitle(WindowId window, std::size_t maxLength)
{
    return m_desktop->GetWindowTitle(window, maxLength);
}

void BrowserPagesDesktop::EnumChildWindows(WindowId window, const WindowVisitor& visit)
{
    m_desktop->EnumChildWindows(window, visit);
}

std::string BrowserPagesDesktop::GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                                      std::chrono::milliseconds timeout)
{
    return m_desktop->GetWindowTextTimeout(window, maxLength, timeout);
}

WindowId BrowserPagesDesktop::FindWindowByClass(WindowId parent, WindowId after, const std::string& className)
{
    return m_desktop->FindWindowByClass(parent, after, className);
}

std::unique_ptr<BrowserWindowFinder> BrowserPagesDesktop::CreateBrowserWindowFinder()
{
    m_pages->NoteInspection(PageSource::Clock::now());
    std::vector<WindowId> pages;
    for (const auto& [id, page] : m_pages->Pages())
        pages.push_back(id);
    return std::make_unique<PagesFinder>(m_desktop->CreateBrowserWindowFinder(), std::move(pages));
}

std::unique_ptr<BrowserHTMLViewer> BrowserPagesDesktop::OpenBrowserHTMLViewer(WindowId window,
                                                                              const BrowserPageAccess& access)
{
    if (PageSource::IsPageWindow(window))
        return std::make_unique<ReportedPageViewer>(m_pages->Find(window), m_pages);
    return m_desktop->OpenBrowserHTMLViewer(window, access);
}

void PageSource::Take(ConnectionId connection, const PageFrameReader::Frame& frame, bool& introduced)
{
    const auto id = static_cast<unsigned long long>(connection);
    if (frame.oversized) {
        AGENT_LOG(kzb::log::Warning, "Browser pages: a message of %zu bytes from host %llu dropped (at most %zu)",
                frame.size, id, MaxPageMessageSize);
        return;
    }
    std::string error;
    const auto message = ParsePageMessage(frame.json, error);
    if (!message) {
        AGENT_LOG(kzb::log::Warning, "Browser pages: a message from host %llu dropped: %s", id, error.c_str());
        return;
    }
    if (message->kind == PageMessage::Kind::Hello) {
        if (!introduced)
            AGENT_LOG(kzb::log::Print, "Browser extension connected: %s (host %llu)", message->origin.c_str(), id);
        introduced = true;
        return;
    }
    if (message->kind == PageMessage::Kind::Bodies) {
        AGENT_LOG(kzb::log::Warning, "Browser pages: a message from host %llu dropped: not one a browser sends", id);
        return;
    }
    Apply(connection, *message);
}

void PageSource::Leave(ConnectionId connection, bool said)
{
    if (said) {
        AGENT_LOG(kzb::log::Print, "Browser extension gone (host %llu); pages dropped: %zu",
                static_cast<unsigned long long>(connection), Count(connection));
    }
    Disconnect(connection);
}

} // namespace kzb::inspection

#include "InspectionSnapshot.h"

#include "PageReader.h"

#include <chrono>

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

template <typename T, typename Cell, typename Read>
const T& CachingDesktop::Fill(Cell cell, Read read)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    Once<T>& once = cell();
    m_read.wait(lock, [&] { return once.state != Once<T>::State::Reading; });
    if (once.state == Once<T>::State::Empty) {
        once.state = Once<T>::State::Reading;
        lock.unlock();
        T value = T();
        std::exception_ptr failure;
        try {
            value = read();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        once.value = std::move(value);
        once.failure = failure;
        once.state = Once<T>::State::Read;
        m_read.notify_all();
    }
    if (once.failure)
        std::rethrow_exception(once.failure);
    return once.value;
}

const std::vector<WindowId>& CachingDesktop::TopLevel()
{
    return Fill<std::vector<WindowId>>([&]() -> auto& { return m_topLevel; }, [&] {
        return Collect([this](const WindowVisitor& v) { m_desktop->EnumTopLevelWindows(v); });
    });
}

const CachingDesktop::Text& CachingDesktop::Title(WindowId window, std::size_t maxLength)
{
    return Fill<Text>([&]() -> auto& { return m_titles[{window, maxLength}]; },
                      [&] { return Text(m_desktop->GetWindowTitle(window, maxLength)); });
}

const std::vector<CachingDesktop::TitledWindow>& CachingDesktop::TopLevelTitles(std::size_t maxLength)
{
    return Fill<std::vector<TitledWindow>>([&]() -> auto& { return m_topLevelTitles[maxLength]; }, [&] {
        // Read straight into the list: a snapshot of hundreds of windows makes no copies.
        const std::vector<WindowId>& topLevel = TopLevel();
        std::vector<TitledWindow> windows;
        windows.reserve(topLevel.size());
        for (WindowId window : topLevel)
            windows.push_back({window, Text(m_desktop->GetWindowTitle(window, maxLength))});
        return windows;
    });
}

const CachingDesktop::TitledWindow& CachingDesktop::Foreground(std::size_t maxLength)
{
    return Fill<TitledWindow>([&]() -> auto& { return m_foregroundTitles[maxLength]; }, [&] {
        const WindowId window = GetForegroundWindow();
        return TitledWindow{window, window ? Title(window, maxLength) : Text{}};
    });
}

const std::vector<WindowId>& CachingDesktop::Children(WindowId window)
{
    return Fill<std::vector<WindowId>>([&]() -> auto& { return m_children[window]; }, [&] {
        return Collect([&](const WindowVisitor& v) { m_desktop->EnumChildWindows(window, v); });
    });
}

const CachingDesktop::Text& CachingDesktop::WindowText(WindowId window, std::size_t maxLength,
                                                       std::chrono::milliseconds timeout)
{
    return Fill<Text>([&]() -> auto& { return m_texts[{window, maxLength}]; }, [&] {
        // Windows of an answerer that has let one read time out in this moment would only
        // keep the inspection waiting for the same empty answer.
        const std::uintptr_t answerer = m_desktop->GetAnswerer(window);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_silent.count(answerer) != 0)
                return Text{};
        }
        const auto start = std::chrono::steady_clock::now();
        std::string text = m_desktop->GetWindowTextTimeout(window, maxLength, timeout);
        if (text.empty() && std::chrono::steady_clock::now() - start >= timeout) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_silent.insert(answerer);
        }
        return Text(std::move(text));
    });
}

void CachingDesktop::EnumTopLevelWindows(const WindowVisitor& visit)
{
    Visit(TopLevel(), visit);
}

WindowId CachingDesktop::GetForegroundWindow()
{
    return Fill<WindowId>([&]() -> auto& { return m_foreground; }, [&] { return m_desktop->GetForegroundWindow(); });
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

std::uintptr_t CachingDesktop::GetAnswerer(WindowId window)
{
    return m_desktop->GetAnswerer(window);
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
    auto browsers = Fill<std::shared_ptr<const BrowserWindows>>([&]() -> auto& { return m_browsers; }, [&] {
        auto found = std::make_shared<BrowserWindows>();
        try {
            m_desktop->CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId window) {
                found->windows.push_back(window);
                return false;
            });
        } catch (...) {
            found->failure = std::current_exception();
        }
        return std::shared_ptr<const BrowserWindows>(std::move(found));
    });
    return std::make_unique<SharedFinder>(browsers);
}

// One window's page for every method of the moment; each property is read once.
class CachingDesktop::SharedViewer : public BrowserHTMLViewer
{
public:
    explicit SharedViewer(std::shared_ptr<PageReader> page) : m_page(std::move(page)) {}
    std::string GetDomain() override { return m_page->Get(PageReader::Property::Domain); }
    std::string GetHTMLBody() override { return m_page->Get(PageReader::Property::Body); }
    std::string GetTitle() override { return m_page->Get(PageReader::Property::Title); }
    std::string GetURL() override { return m_page->Get(PageReader::Property::URL); }

private:
    std::shared_ptr<PageReader> m_page;
};

std::unique_ptr<BrowserHTMLViewer> CachingDesktop::OpenBrowserHTMLViewer(WindowId window,
                                                                         const BrowserPageAccess& access)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<PageReader>& page = m_pages[window];
    if (!page)
        page = std::make_shared<PageReader>(m_desktop, window, access);
    return std::make_unique<SharedViewer>(page);
}

} // namespace kzb::inspection

#include "InspectionSnapshot.h"

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

template <typename Read>
std::string Cached(std::map<std::pair<WindowId, std::size_t>, std::string>& cache, WindowId window,
                   std::size_t maxLength, Read read)
{
    const auto key = std::make_pair(window, maxLength);
    auto found = cache.find(key);
    if (found == cache.end())
        found = cache.emplace(key, read()).first;
    return found->second;
}

} // namespace

void CachingDesktop::EnumTopLevelWindows(const WindowVisitor& visit)
{
    if (!m_topLevel)
        m_topLevel = Collect([this](const WindowVisitor& v) { m_desktop->EnumTopLevelWindows(v); });
    Visit(*m_topLevel, visit);
}

WindowId CachingDesktop::GetForegroundWindow()
{
    if (!m_foreground)
        m_foreground = m_desktop->GetForegroundWindow();
    return *m_foreground;
}

std::string CachingDesktop::GetWindowTitle(WindowId window, std::size_t maxLength)
{
    return Cached(m_titles, window, maxLength, [&] { return m_desktop->GetWindowTitle(window, maxLength); });
}

void CachingDesktop::EnumChildWindows(WindowId window, const WindowVisitor& visit)
{
    auto found = m_children.find(window);
    if (found == m_children.end()) {
        found = m_children
                    .emplace(window, Collect([&](const WindowVisitor& v) { m_desktop->EnumChildWindows(window, v); }))
                    .first;
    }
    Visit(found->second, visit);
}

std::string CachingDesktop::GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                                 std::chrono::milliseconds timeout)
{
    return Cached(m_texts, window, maxLength,
                  [&] { return m_desktop->GetWindowTextTimeout(window, maxLength, timeout); });
}

WindowId CachingDesktop::FindWindowByClass(WindowId parent, WindowId after, const std::string& className)
{
    return m_desktop->FindWindowByClass(parent, after, className);
}

std::unique_ptr<BrowserWindowFinder> CachingDesktop::CreateBrowserWindowFinder()
{
    return m_desktop->CreateBrowserWindowFinder();
}

std::unique_ptr<BrowserHTMLViewer> CachingDesktop::OpenBrowserHTMLViewer(WindowId window,
                                                                         const BrowserPageAccess& access)
{
    return m_desktop->OpenBrowserHTMLViewer(window, access);
}

} // namespace kzb::inspection

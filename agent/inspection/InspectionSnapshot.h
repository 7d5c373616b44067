#pragma once

#include "Desktop.h"
#include "TextFormat.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace kzb::inspection {

class PageReader;

// The desktop as one inspection sees it: each window list, title, child text and browser
// page is read once and kept, so that every method of the inspection (and the handlers of
// both recorders, which inspect the same moment) share the work, and a hung child window
// or browser costs its time-out once, not once per method. Safe to use from several
// threads at once; no lock is held while another process is asked, so a thread waits only
// for the very read it needs, never longer than that read's bound.
class CachingDesktop : public Desktop
{
public:
    explicit CachingDesktop(std::shared_ptr<Desktop> desktop) : m_desktop(std::move(desktop)) {}

    // A text as read, and lowered for matching without copies.
    struct Text
    {
        explicit Text(std::string read = {}) : lowered(read), text(std::move(read)) {}
        LoweredText lowered;
        std::string text;
    };
    struct TitledWindow
    {
        WindowId id = 0;
        Text title;
    };

    // Every top-level window with its title of at most maxLength characters, in the
    // system's order. Read on the first call; the same object for every later one.
    const std::vector<TitledWindow>& TopLevelTitles(std::size_t maxLength);
    // The foreground window (id 0 when there is none) with its title.
    const TitledWindow& Foreground(std::size_t maxLength);
    // The window's descendants; and the text a window gives within the time-out, each read
    // once (when first asked for, so that a search that stops early reads no further).
    const std::vector<WindowId>& Children(WindowId window);
    const Text& WindowText(WindowId window, std::size_t maxLength, std::chrono::milliseconds timeout);

    // Desktop, from the same kept reads.
    void EnumTopLevelWindows(const WindowVisitor& visit) override;
    WindowId GetForegroundWindow() override;
    std::string GetWindowTitle(WindowId window, std::size_t maxLength) override;
    void EnumChildWindows(WindowId window, const WindowVisitor& visit) override;
    std::string GetWindowTextTimeout(WindowId window, std::size_t maxLength,
                                     std::chrono::milliseconds timeout) override;
    std::uintptr_t GetAnswerer(WindowId window) override;
    WindowId FindWindowByClass(WindowId parent, WindowId after, const std::string& className) override;
    std::unique_ptr<BrowserWindowFinder> CreateBrowserWindowFinder() override;
    std::unique_ptr<BrowserHTMLViewer> OpenBrowserHTMLViewer(WindowId window, const BrowserPageAccess& access) override;

private:
    using TextKey = std::pair<WindowId, std::size_t>;
    struct BrowserWindows; // what the finder gave, and how its search ended
    class SharedFinder;
    class SharedViewer;

    // A value read once: the first thread to need it reads it, the others wait for that.
    template <typename T>
    struct Once
    {
        enum class State
        {
            Empty,
            Reading,
            Read,
        } state = State::Empty;
        T value = T();
        std::exception_ptr failure;
    };
    // The cell that cell() gives (under the lock), read with read() (outside it) if it is new.
    template <typename T, typename Cell, typename Read>
    const T& Fill(Cell cell, Read read);

    const std::vector<WindowId>& TopLevel();
    const Text& Title(WindowId window, std::size_t maxLength);

    // Held only to find or fill a cell; what a cell holds once read never changes, so the
    // references handed out stay valid for the snapshot's life.
    std::mutex m_mutex;
    std::condition_variable m_read; // a cell was read
    std::shared_ptr<Desktop> m_desktop;
    Once<std::vector<WindowId>> m_topLevel;
    Once<WindowId> m_foreground;
    std::map<std::size_t, Once<std::vector<TitledWindow>>> m_topLevelTitles; // by title length
    std::map<std::size_t, Once<TitledWindow>> m_foregroundTitles;
    std::map<WindowId, Once<std::vector<WindowId>>> m_children;
    std::map<TextKey, Once<Text>> m_titles; // other than those of the top-level lists
    std::map<TextKey, Once<Text>> m_texts;
    std::set<std::uintptr_t> m_silent; // answerers that let a text read time out
    Once<std::shared_ptr<const BrowserWindows>> m_browsers;
    std::map<WindowId, std::shared_ptr<PageReader>> m_pages;
};

// While one exists, GetDesktop() and CurrentSnapshot() on this thread give the snapshot:
// the one given, else the one already in place on this thread, else a new one of the
// desktop.
class InspectionSnapshot
{
public:
    InspectionSnapshot();
    explicit InspectionSnapshot(std::shared_ptr<CachingDesktop> shared);
    ~InspectionSnapshot();
    InspectionSnapshot(const InspectionSnapshot&) = delete;
    InspectionSnapshot& operator=(const InspectionSnapshot&) = delete;

private:
    std::shared_ptr<CachingDesktop> m_previous;
};

// The snapshot in place on this thread; only while an InspectionSnapshot exists.
CachingDesktop& CurrentSnapshot();

} // namespace kzb::inspection

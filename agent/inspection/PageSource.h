#pragma once

#include "Desktop.h"
#include "DesktopWatcher.h"
#include "PageMessage.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kzb::inspection {

// The pages the browser extensions last reported: for each host connection, the active tab
// of each browser window. Inspections read what is here and never wait for a browser; a
// report that changes a page tells the listeners at once. A connection that goes takes its
// pages with it.
//
// Bodies are large and costly for the browser to assemble, so they are asked for only
// while the inspections read them: a body read asks for bodies, and when none was read
// for BodyDemandLinger the hosts are told to stop sending them. The hosts are told through
// the notice given to SetBodiesNotice.
class PageSource
{
public:
    using ConnectionId = std::uint64_t;
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds BodyDemandLinger{3};

    struct Page
    {
        std::string title, url, domain, body;
    };

    PageSource() = default;
    PageSource(const PageSource&) = delete;
    PageSource& operator=(const PageSource&) = delete;

    // Connections come and go on the server's thread.
    ConnectionId Connect();
    void Disconnect(ConnectionId connection);
    // Applies one message of the connection; a message that is not from a browser is ignored.
    void Apply(ConnectionId connection, const PageMessage& message);
    // The connection goes with its pages; said is whether to log it (a connection that never
    // said which extension it serves was no extension).
    void Leave(ConnectionId connection, bool said);
    // One frame as a host sent it: a bad one is logged and dropped, the host's hello is said
    // once (introduced tells whether it was), a page report is applied.
    void Take(ConnectionId connection, const PageFrameReader::Frame& frame, bool& introduced);

    // The pages, in the order they were first reported, each with a window id of its own
    // that no real window has (and that stays while the browser window shows pages).
    std::vector<std::pair<WindowId, std::shared_ptr<const Page>>> Pages();
    // The page a window id stands for; null when it is gone.
    std::shared_ptr<const Page> Find(WindowId window);
    static bool IsPageWindow(WindowId window);
    std::size_t Count(ConnectionId connection);

    // Called on a change of the pages; the returned watcher stops the calls when destroyed
    // (it waits for a call under way).
    std::unique_ptr<DesktopWatcher> Watch(std::function<void()> changed);

    // The inspections read a body at now; and look at the pages at now (a demand not renewed
    // for the linger lapses then).
    void NoteBodyRead(Clock::time_point now);
    void NoteInspection(Clock::time_point now);
    bool BodiesWanted();
    // Told (on the calling thread) each time the demand for bodies changes; it reads
    // BodiesWanted() for the demand now.
    void SetBodiesNotice(std::function<void()> notice);

private:
    class Watcher;
    struct Entry
    {
        WindowId id = 0;
        std::uint64_t order = 0;
        std::shared_ptr<const Page> page;
    };
    using Key = std::pair<ConnectionId, std::int64_t>;

    bool Store(ConnectionId connection, const ReportedPage& reported); // true when it changed
    void Changed();
    void Unwatch(std::uint64_t token);
    void DemandChanged();

    std::mutex m_mutex;
    ConnectionId m_nextConnection = 1;
    std::map<ConnectionId, bool> m_connections;
    std::map<Key, Entry> m_pages;
    WindowId m_nextWindow = 1;
    std::uint64_t m_nextOrder = 1;
    bool m_bodiesWanted = false;
    Clock::time_point m_lastBodyRead{};

    // A listener is called under its own lock, which its removal takes too: after removal no
    // call is under way. The list's lock is never held during a call, so a listener may take
    // locks that are held while watches are made (the inspection clock's).
    struct Listener
    {
        std::mutex mutex;
        bool active = true;
        std::function<void()> changed;
    };
    std::mutex m_listMutex;
    std::map<std::uint64_t, std::shared_ptr<Listener>> m_listeners;
    std::uint64_t m_nextToken = 1;
    std::mutex m_noticeMutex; // held while the bodies notice is called
    std::function<void()> m_bodiesNotice;
};

// The desktop with the reported pages as browser windows after the wrapped desktop's own:
// its browser window finder gives the wrapped finder's windows first and then one window per
// reported page; its viewers of those windows give the page's texts as last reported. Its
// watcher tells of the wrapped desktop's changes and of every page change.
class BrowserPagesDesktop : public Desktop
{
public:
    BrowserPagesDesktop(std::shared_ptr<Desktop> desktop, std::shared_ptr<PageSource> pages);

    std::unique_ptr<DesktopWatcher> Watch(std::function<void()> changed) override;
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
    std::shared_ptr<Desktop> m_desktop;
    std::shared_ptr<PageSource> m_pages;
};

// Serves the page hosts of this user session on a thread of its own, feeding the page
// source; null (with a log line) when it cannot, e.g. when another agent of the session
// serves them already. Destroying it closes every connection and stops the thread.
class PageSourceServer
{
public:
    virtual ~PageSourceServer() = default;
};
std::unique_ptr<PageSourceServer> ServeBrowserPages(std::shared_ptr<PageSource> pages);

// Where the agent of this session listens: natively a Unix socket in a folder only the user
// may enter ($XDG_RUNTIME_DIR/kzbdka, else /tmp/kzbdka-UID); on Windows a pipe name that
// carries the session id. Empty when there is none (with the reason in error).
std::string PageChannelName(std::string& error);

} // namespace kzb::inspection

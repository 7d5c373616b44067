#include "PageReader.h"

#include "Log.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace kzb::inspection {

using Clock = std::chrono::steady_clock;

// What a reader thread and the inspections that wait for it share.
struct PageReader::Work
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Property> asked;   // every property asked for, in order
    std::size_t next = 0;          // the first of asked not read yet
    std::array<std::optional<std::string>, 4> results;
    std::exception_ptr failure;    // the page could not be opened or read
    bool closing = false;          // nothing more will be asked: end once the rest is read
    bool finished = false;         // the reader thread has let go of the page
    Clock::time_point deadline;

    bool Answered(Property property) const { return results[static_cast<std::size_t>(property)].has_value(); }
    // Everything asked was read: the browser answered every call.
    bool Complete() const { return !failure && next == asked.size(); }
};

namespace {

std::string ReadProperty(BrowserHTMLViewer& viewer, PageReader::Property property)
{
    switch (property) {
    case PageReader::Property::Domain: return viewer.GetDomain();
    case PageReader::Property::Body: return viewer.GetHTMLBody();
    case PageReader::Property::Title: return viewer.GetTitle();
    case PageReader::Property::URL: return viewer.GetURL();
    }
    return {};
}

bool IsNotAnswering(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const PageNotAnswering&) {
        return true;
    } catch (...) {
        return false;
    }
}

unsigned long long Hex(WindowId window)
{
    return static_cast<unsigned long long>(window);
}

// The browser windows that stopped answering, across moments, with the reader each left
// behind. Never destroyed: a reader may still come back to it while the process ends.
class Unanswered
{
public:
    static Unanswered& Instance()
    {
        static Unanswered* const instance = new Unanswered;
        return *instance;
    }

    struct Key
    {
        const Desktop* desktop;
        WindowId window;
        bool operator<(const Key& other) const
        {
            return desktop != other.desktop ? std::less<const Desktop*>()(desktop, other.desktop)
                                            : window < other.window;
        }
    };

    struct Entry
    {
        std::weak_ptr<Desktop> desktop; // the key's desktop, while it lives
        std::shared_ptr<PageReader::Work> probe; // the last reader that tried this window
        Clock::time_point lastAsked;
    };

    std::mutex mutex;
    std::map<Key, Entry> windows;
    std::size_t running = 0;   // reader threads alive
    bool refusing = false;     // too many readers stuck: said once

    std::size_t StuckLocked() const
    {
        std::size_t stuck = 0;
        for (const auto& [key, entry] : windows) {
            std::lock_guard<std::mutex> lock(entry.probe->mutex);
            stuck += entry.probe->finished ? 0 : 1;
        }
        return stuck;
    }

    // Windows not asked for in a while whose reader has ended are forgotten.
    void PruneLocked(Clock::time_point now)
    {
        for (auto entry = windows.begin(); entry != windows.end();) {
            bool finished = false;
            {
                std::lock_guard<std::mutex> lock(entry->second.probe->mutex);
                finished = entry->second.probe->finished;
            }
            const bool forgotten = entry->second.desktop.expired() || now - entry->second.lastAsked > std::chrono::minutes(1);
            entry = finished && forgotten ? windows.erase(entry) : std::next(entry);
        }
    }
};

void ReaderMain(std::shared_ptr<PageReader::Work> work, std::shared_ptr<Desktop> desktop, WindowId window,
                BrowserPageAccess access)
{
    std::unique_ptr<BrowserHTMLViewer> viewer;
    try {
        viewer = desktop->OpenBrowserHTMLViewer(window, access);
    } catch (...) {
        std::lock_guard<std::mutex> lock(work->mutex);
        work->failure = std::current_exception();
    }
    std::unique_lock<std::mutex> lock(work->mutex);
    work->changed.notify_all();
    while (viewer) {
        work->changed.wait(lock, [&] { return work->next < work->asked.size() || work->closing; });
        if (work->next == work->asked.size())
            break; // closing, and everything asked was read
        const PageReader::Property property = work->asked[work->next];
        lock.unlock();
        std::string text;
        std::exception_ptr failure;
        try {
            text = ReadProperty(*viewer, property);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure) {
            work->failure = failure;
            work->changed.notify_all();
            break;
        }
        work->results[static_cast<std::size_t>(property)] = std::move(text);
        ++work->next;
        work->changed.notify_all();
    }
    lock.unlock();
    viewer.reset(); // released on the thread that made it
    desktop.reset();
    {
        Unanswered& unanswered = Unanswered::Instance();
        std::lock_guard<std::mutex> registry(unanswered.mutex);
        --unanswered.running;
        lock.lock();
        work->finished = true;
        work->changed.notify_all();
    }
}

// A reader thread for work; throws PageNotAnswering when too many are stuck in browsers.
void StartReader(Unanswered& unanswered, const std::shared_ptr<PageReader::Work>& work,
                 std::shared_ptr<Desktop> desktop, WindowId window, const BrowserPageAccess& access)
{
    if (unanswered.StuckLocked() >= PageReader::MaxAbandoned) {
        if (!unanswered.refusing) {
            AGENT_LOG(kzb::log::Error,
                    "Too many browser windows are not answering: no page is read until one answers again");
            unanswered.refusing = true;
        }
        throw PageNotAnswering("Too many browser windows are not answering");
    }
    unanswered.refusing = false;
    std::thread(ReaderMain, work, std::move(desktop), window, access).detach();
    ++unanswered.running;
}

} // namespace

PageReader::PageReader(std::shared_ptr<Desktop> desktop, WindowId window, BrowserPageAccess access)
    : m_desktop(std::move(desktop)), m_window(window), m_access(std::move(access))
{
}

PageReader::~PageReader()
{
    if (!m_work)
        return;
    std::lock_guard<std::mutex> lock(m_work->mutex);
    m_work->closing = true;
    m_work->changed.notify_all();
}

std::shared_ptr<PageReader::Work> PageReader::Begin()
{
    Unanswered& unanswered = Unanswered::Instance();
    std::lock_guard<std::mutex> registry(unanswered.mutex);
    const Clock::time_point now = Clock::now();
    unanswered.PruneLocked(now);

    const auto known = unanswered.windows.find({m_desktop.get(), m_window});
    if (known != unanswered.windows.end()) {
        Unanswered::Entry& entry = known->second;
        entry.lastAsked = now;
        std::vector<Property> asked;
        bool complete = false;
        {
            std::lock_guard<std::mutex> lock(entry.probe->mutex);
            if (!entry.probe->finished)
                throw PageNotAnswering("The browser window has not answered yet");
            complete = entry.probe->Complete();
            asked = entry.probe->asked;
        }
        if (!complete) {
            // It failed again: try once more, without anybody waiting for it.
            auto probe = std::make_shared<Work>();
            probe->asked = std::move(asked);
            probe->closing = true;
            StartReader(unanswered, probe, m_desktop, m_window, m_access);
            entry.probe = std::move(probe);
            throw PageNotAnswering("The browser window has not answered yet");
        }
        // Said at the level of the hang itself, so whoever saw the one sees the other.
        AGENT_LOG(kzb::log::Error, "Browser window 0x%llx is answering again", Hex(m_window));
        unanswered.windows.erase(known);
    }

    auto work = std::make_shared<Work>();
    work->deadline = now + Bound;
    StartReader(unanswered, work, m_desktop, m_window, m_access);
    return work;
}

std::string PageReader::Get(Property property)
{
    std::shared_ptr<Work> work;
    {
        // Begin never waits for a browser, so holding this across it holds nobody up.
        static std::mutex beginning;
        std::lock_guard<std::mutex> lock(beginning);
        if (!m_work)
            m_work = Begin();
        work = m_work;
    }

    std::unique_lock<std::mutex> lock(work->mutex);
    if (!work->Answered(property) && !work->failure &&
        std::find(work->asked.begin(), work->asked.end(), property) == work->asked.end()) {
        work->asked.push_back(property);
        work->changed.notify_all();
    }
    const bool done = work->changed.wait_until(lock, work->deadline, [&] {
        return work->Answered(property) || work->failure;
    });
    if (done && work->Answered(property))
        return *work->results[static_cast<std::size_t>(property)];
    if (done && !IsNotAnswering(work->failure))
        std::rethrow_exception(work->failure);
    lock.unlock();

    // The browser did not answer in time: the reader stays behind until it does.
    Unanswered& unanswered = Unanswered::Instance();
    {
        std::lock_guard<std::mutex> registry(unanswered.mutex);
        auto [entry, added] = unanswered.windows.try_emplace({m_desktop.get(), m_window});
        if (added || entry->second.probe != work) {
            entry->second.desktop = m_desktop;
            entry->second.probe = work;
            entry->second.lastAsked = Clock::now();
            if (added) {
                AGENT_LOG(kzb::log::Error,
                        "Browser window 0x%llx did not answer within %lld ms: its page is not read until it "
                        "answers",
                        Hex(m_window), static_cast<long long>(Bound.count()));
            }
        }
    }
    throw PageNotAnswering("The browser window did not answer in time");
}

std::size_t PageReader::RunningReaders()
{
    Unanswered& unanswered = Unanswered::Instance();
    std::lock_guard<std::mutex> registry(unanswered.mutex);
    return unanswered.running;
}

} // namespace kzb::inspection

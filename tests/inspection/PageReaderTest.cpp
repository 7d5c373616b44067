// Reads of other processes' windows and pages within one moment of inspection: bounded in
// time, never under a lock that other readers need, and a browser that hangs is waited for
// once, not at every moment.
#include "Config/BrowserHTMLMethod.h"
#include "LogCapture.h"
#include "inspection/InspectionSnapshot.h"
#include "inspection/PageReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using kzb::inspection::BrowserHTMLViewer;
using kzb::inspection::CachingDesktop;
using kzb::inspection::InspectionSnapshot;
using kzb::inspection::PageReader;
using kzb::inspection::WindowId;
using kzb::inspection::WindowVisitor;
using namespace std::chrono_literals;

namespace {

// Holds whoever calls Pass until it is opened; says when someone is held.
class Gate
{
public:
    void Close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = false;
    }
    void Open()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void Pass()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_held;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
        --m_held;
    }
    bool WaitUntilHeld(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_held >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = true;
    int m_held = 0;
};

// Browser windows 1..n with a page each (domain "site<n>.example"); the pages of the hung
// windows, and the texts of the windows of hung answerers, wait at the gate.
class HangingDesktop : public kzb::inspection::Desktop
{
public:
    explicit HangingDesktop(int browsers) : m_browsers(browsers) {}

    Gate gate;
    std::vector<WindowId> hungPages;
    std::atomic<int> opens{0};
    std::atomic<int> opensOfFirst{0}; // of window 1
    std::atomic<int> textReads{0};
    std::map<WindowId, std::uintptr_t> answerers; // child window -> answerer
    std::uintptr_t hungAnswerer = 0;

    void EnumTopLevelWindows(const WindowVisitor& visit) override
    {
        for (WindowId window = 1; window <= 3; ++window) {
            if (!visit(window))
                return;
        }
    }
    WindowId GetForegroundWindow() override { return 0; }
    std::string GetWindowTitle(WindowId window, std::size_t) override { return "Window " + std::to_string(window); }
    void EnumChildWindows(WindowId, const WindowVisitor&) override {}
    std::string GetWindowTextTimeout(WindowId window, std::size_t, std::chrono::milliseconds timeout) override
    {
        ++textReads;
        if (GetAnswerer(window) == hungAnswerer) {
            gate.Pass();
            std::this_thread::sleep_for(timeout); // as a message that is never answered
            return {};
        }
        return "Text " + std::to_string(window);
    }
    std::uintptr_t GetAnswerer(WindowId window) override
    {
        const auto found = answerers.find(window);
        return found == answerers.end() ? window : found->second;
    }
    WindowId FindWindowByClass(WindowId, WindowId, const std::string&) override { return 0; }

    std::unique_ptr<kzb::inspection::BrowserWindowFinder> CreateBrowserWindowFinder() override
    {
        struct Finder : kzb::inspection::BrowserWindowFinder
        {
            int count;
            explicit Finder(int c) : count(c) {}
            bool FindBrowserWindows(const WindowVisitor& found) override
            {
                for (WindowId window = 1; window <= static_cast<WindowId>(count); ++window) {
                    if (found(window))
                        return true;
                }
                return false;
            }
        };
        return std::make_unique<Finder>(m_browsers);
    }

    std::unique_ptr<BrowserHTMLViewer> OpenBrowserHTMLViewer(WindowId window,
                                                             const kzb::inspection::BrowserPageAccess&) override
    {
        ++opens;
        if (window == 1)
            ++opensOfFirst;
        struct Viewer : BrowserHTMLViewer
        {
            HangingDesktop& desktop;
            WindowId window;
            Viewer(HangingDesktop& d, WindowId w) : desktop(d), window(w) {}
            std::string Answer(const std::string& text)
            {
                for (WindowId hung : desktop.hungPages) {
                    if (hung == window)
                        desktop.gate.Pass();
                }
                return text;
            }
            std::string GetDomain() override { return Answer("site" + std::to_string(window) + ".example"); }
            std::string GetHTMLBody() override { return Answer("<p>page</p>"); }
            std::string GetTitle() override { return Answer("Page"); }
            std::string GetURL() override { return Answer("https://site" + std::to_string(window) + ".example/"); }
        };
        return std::make_unique<Viewer>(*this, window);
    }

private:
    int m_browsers;
};

// A method that fires for the page of the given site.
BrowserHTMLMethod SiteTrigger(int site)
{
    return BrowserHTMLMethod({BrowserHTMLCriteria(BrowserHTMLCriteria::Domain, TextMatch::Contains,
                                                  "site" + std::to_string(site) + ".example")});
}

// Every reader left behind has ended (the gates were opened).
bool ReadersEnded()
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (PageReader::RunningReaders() != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class PageReaderTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        desktop->gate.Open();
        EXPECT_TRUE(ReadersEnded()) << "a reader stayed behind after its browser answered";
    }

    // One moment's Check of the method.
    bool CheckAtAMoment(BrowserHTMLMethod& method)
    {
        InspectionSnapshot snapshot(std::make_shared<CachingDesktop>(desktop));
        return method.Check();
    }

    LogCapture log;
    std::shared_ptr<HangingDesktop> desktop = std::make_shared<HangingDesktop>(2);
};

} // namespace

TEST_F(PageReaderTest, AHungPageIsWaitedForOnceSaidOnceAndReadAgainWhenItAnswers)
{
    const std::string hung = "Browser window 0x1 did not answer within 1000 ms";
    BrowserHTMLMethod first = SiteTrigger(1);
    BrowserHTMLMethod second = SiteTrigger(2);
    desktop->hungPages = {1};
    desktop->gate.Close();

    // The first moment waits for the bound, then reads as not fired; the other browser still counts.
    EXPECT_FALSE(CheckAtAMoment(first));
    EXPECT_TRUE(CheckAtAMoment(second));
    EXPECT_EQ(log.Count(hung), 1u);
    EXPECT_EQ(log.Count("Failed to"), 0u);

    // Later moments do not ask the hung browser again, nor say it again.
    for (int moment = 0; moment < 3; ++moment)
        EXPECT_FALSE(CheckAtAMoment(first));
    EXPECT_EQ(desktop->opensOfFirst, 1);
    EXPECT_EQ(log.Count(hung), 1u);

    // It answers again: said once, and its page fires again.
    desktop->gate.Open();
    ASSERT_TRUE(ReadersEnded());
    EXPECT_TRUE(CheckAtAMoment(first));
    EXPECT_EQ(log.Count("Browser window 0x1 is answering again"), 1u);
    EXPECT_TRUE(CheckAtAMoment(first));
    EXPECT_EQ(log.Count("answering again"), 1u);
}

TEST_F(PageReaderTest, TwoThreadsOfOneMomentWaitForTheSameHungPageNoLongerThanTheBound)
{
    BrowserHTMLMethod first = SiteTrigger(1);
    desktop->hungPages = {1};
    desktop->gate.Close();
    const auto snapshot = std::make_shared<CachingDesktop>(desktop);
    auto check = [&] {
        InspectionSnapshot scope(snapshot);
        BrowserHTMLMethod method = SiteTrigger(1);
        return method.Check();
    };
    auto a = std::async(std::launch::async, check);
    auto b = std::async(std::launch::async, check);
    // They return although the browser never answers.
    ASSERT_EQ(a.wait_for(30s), std::future_status::ready);
    ASSERT_EQ(b.wait_for(30s), std::future_status::ready);
    EXPECT_FALSE(a.get());
    EXPECT_FALSE(b.get());
    EXPECT_EQ(desktop->opensOfFirst, 1) << "one reader for the page of the moment";
    EXPECT_EQ(log.Count("did not answer"), 1u);
}

TEST_F(PageReaderTest, NoLockIsHeldWhileAnotherProcessIsAsked)
{
    // The text of window 1 never comes; meanwhile the same snapshot gives everything else.
    desktop->hungAnswerer = 1;
    desktop->gate.Close();
    const auto snapshot = std::make_shared<CachingDesktop>(desktop);
    auto stuck = std::async(std::launch::async, [&] { return snapshot->WindowText(1, 100, 1000ms).text; });
    ASSERT_TRUE(desktop->gate.WaitUntilHeld(1));
    auto others = std::async(std::launch::async, [&] {
        return snapshot->TopLevelTitles(100).size() + snapshot->WindowText(2, 100, 1000ms).text.size();
    });
    ASSERT_EQ(others.wait_for(10s), std::future_status::ready) << "held up by the hung window";
    EXPECT_GT(others.get(), 3u);
    EXPECT_NE(stuck.wait_for(0s), std::future_status::ready);
    desktop->gate.Open();
    EXPECT_EQ(stuck.get(), "");
}

TEST_F(PageReaderTest, AnAnswererThatTimedOutIsNotAskedAgainInTheSameMoment)
{
    // Five child windows of one application that does not answer: one time-out, not five.
    for (WindowId child = 11; child <= 15; ++child)
        desktop->answerers[child] = 7;
    desktop->hungAnswerer = 7;
    CachingDesktop snapshot(desktop);
    for (WindowId child = 11; child <= 15; ++child)
        EXPECT_EQ(snapshot.WindowText(child, 100, 20ms).text, "");
    EXPECT_EQ(desktop->textReads, 1);
    EXPECT_EQ(snapshot.WindowText(2, 100, 20ms).text, "Text 2") << "another answerer is still asked";

    // A new moment asks again.
    CachingDesktop next(desktop);
    next.WindowText(12, 100, 20ms);
    EXPECT_EQ(desktop->textReads, 3);
}

TEST_F(PageReaderTest, ReadersLeftBehindAreBoundedInNumber)
{
    const int many = static_cast<int>(PageReader::MaxAbandoned) + 1;
    desktop = std::make_shared<HangingDesktop>(many);
    for (int window = 1; window < many; ++window)
        desktop->hungPages.push_back(static_cast<WindowId>(window));
    desktop->gate.Close();
    // All of them hang at once, each read on a thread of its own.
    CachingDesktop snapshot(desktop);
    const kzb::inspection::BrowserPageAccess access;
    std::vector<std::future<bool>> reads;
    for (int window = 1; window < many; ++window) {
        reads.push_back(std::async(std::launch::async, [&, window] {
            try {
                snapshot.OpenBrowserHTMLViewer(static_cast<WindowId>(window), access)->GetDomain();
            } catch (const kzb::inspection::PageNotAnswering&) {
                return true;
            }
            return false;
        }));
    }
    for (auto& read : reads) {
        ASSERT_EQ(read.wait_for(30s), std::future_status::ready);
        EXPECT_TRUE(read.get()) << "reads as not answering";
    }
    EXPECT_EQ(PageReader::RunningReaders(), PageReader::MaxAbandoned);

    // One more browser is not read at all while so many readers are stuck, and that is said once.
    const int opened = desktop->opens;
    BrowserHTMLMethod last = SiteTrigger(many);
    EXPECT_FALSE(CheckAtAMoment(last));
    EXPECT_FALSE(CheckAtAMoment(last));
    EXPECT_EQ(desktop->opens, opened);
    EXPECT_EQ(log.Count("Too many browser windows are not answering"), 1u);
    EXPECT_EQ(PageReader::RunningReaders(), PageReader::MaxAbandoned);
}

TEST_F(PageReaderTest, OverlappingMomentsSayTheHangOnce)
{
    desktop->hungPages = {1};
    desktop->gate.Close();
    auto read = [&] {
        InspectionSnapshot scope(std::make_shared<CachingDesktop>(desktop));
        BrowserHTMLMethod method = SiteTrigger(1);
        return method.Check();
    };
    auto a = std::async(std::launch::async, read);
    std::this_thread::sleep_for(500ms);
    auto b = std::async(std::launch::async, read);
    EXPECT_FALSE(a.get());
    EXPECT_FALSE(b.get());
    for (int moment = 0; moment < 5; ++moment)
        EXPECT_FALSE(read());
    EXPECT_EQ(log.Count("did not answer within"), 1u);
}

// Pages reported by the browser extension: the messages the host and the agent take, the
// pages the agent keeps per host, how the inspection sees them (after the desktop's own
// browser windows, by the unchanged browser rules), the wake of the inspection clock, and
// the demand for bodies.
#include "DesktopFixture.h"
#include "LogCapture.h"

#include "Config/BrowserHTMLMethod.h"
#include "inspection/InspectionClock.h"
#include "inspection/PageSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>

using namespace kzb::inspection;
using namespace std::chrono_literals;

namespace {

PageMessage Parsed(const std::string& json)
{
    std::string error;
    auto message = ParsePageMessage(json, error);
    EXPECT_TRUE(message) << json << ": " << error;
    return message.value_or(PageMessage{});
}

TEST(PageMessageTest, MessagesOfTheBrowserAndTheAgentAreRead)
{
    const PageMessage page = Parsed(
        R"({"type":"page","window":7,"tab":3,"title":"Pay","url":"https://a/x","domain":"a","body":"<b>"})");
    EXPECT_EQ(page.kind, PageMessage::Kind::Page);
    ASSERT_EQ(page.pages.size(), 1u);
    EXPECT_EQ(page.pages[0].window, 7);
    EXPECT_EQ(page.pages[0].title, "Pay");
    EXPECT_EQ(page.pages[0].url, "https://a/x");
    EXPECT_EQ(page.pages[0].domain, "a");
    EXPECT_EQ(page.pages[0].body, "<b>");
    EXPECT_FALSE(Parsed(R"({"type":"page","window":1,"title":"t"})").pages[0].body) << "no body while not wanted";

    const PageMessage snapshot = Parsed(R"({"type":"snapshot","windows":[{"window":1,"title":"a"},{"window":2}]})");
    EXPECT_EQ(snapshot.kind, PageMessage::Kind::Snapshot);
    EXPECT_EQ(snapshot.pages.size(), 2u);
    EXPECT_EQ(Parsed(R"({"type":"snapshot","windows":[]})").pages.size(), 0u);
    EXPECT_EQ(Parsed(R"({"type":"closed","window":9})").window, 9);
    EXPECT_TRUE(Parsed(R"({"type":"bodies","wanted":true})").bodiesWanted);
    EXPECT_EQ(Parsed(R"({"type":"hello","origin":"chrome-extension://abc/"})").origin, "chrome-extension://abc/");

    // What is written is read back the same.
    PageMessage written;
    written.kind = PageMessage::Kind::Snapshot;
    written.pages.push_back({4, "T\xc3\xa9", "u", "d", std::string("\r\n# - Body\r\n")});
    const PageMessage read = Parsed(FormatPageMessage(written));
    ASSERT_EQ(read.pages.size(), 1u);
    EXPECT_EQ(read.pages[0].title, "T\xc3\xa9");
    EXPECT_EQ(read.pages[0].body, written.pages[0].body);
}

TEST(PageMessageTest, BadMessagesAreRefusedWithAReasonThatQuotesNoPageText)
{
    const struct
    {
        const char* json;
        const char* reason;
    } cases[] = {
        {R"({"type":"page","window":1,"title":"SECRET)", "not valid JSON"},
        {R"(SECRET)", "not valid JSON"},
        {R"(["SECRET"])", "not a JSON object"},
        {R"({"window":1})", "field 'type' missing"},
        {R"({"type":"SECRET"})", "unknown type"},
        {R"({"type":"page","window":1,"cookie":"SECRET"})", "unknown field 'cookie'"},
        {R"({"type":"page","title":"SECRET"})", "field 'window' missing"},
        {R"({"type":"page","window":"1"})", "field 'window' missing or not an integer"},
        {R"({"type":"page","window":1,"title":5})", "field 'title' is not a string"},
        {R"({"type":"page","window":1,"body":null})", "field 'body' is not a string"},
        {R"({"type":"page","window":1,"tab":"SECRET"})", "field 'tab' is not an integer"},
        {R"({"type":"snapshot","windows":{}})", "field 'windows' missing or not an array"},
        {R"({"type":"snapshot","windows":[{"window":1,"extra":"SECRET"}]})", "unknown field 'extra'"},
        {R"({"type":"snapshot","windows":[{"type":"page","window":1}]})", "unknown field 'type'"},
        {R"({"type":"snapshot","windows":["SECRET"]})", "a window is not an object"},
        {R"({"type":"closed","window":1,"title":"SECRET"})", "unknown field 'title'"},
        {R"({"type":"bodies","wanted":1})", "field 'wanted' missing or not true or false"},
        {R"({"type":"hello"})", "field 'origin' missing"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParsePageMessage(c.json, error)) << c.json;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.json << " gave: " << error;
        EXPECT_EQ(error.find("SECRET"), std::string::npos) << c.json << " gave: " << error;
    }
}

TEST(PageMessageTest, FramesAreCutFromAnyPiecesAndOversizedOnesAreSkippedWhole)
{
    const std::string first = R"({"type":"closed","window":1})";
    const std::string second = R"({"type":"closed","window":2})";
    const std::string stream = FramePageMessage(first) + FramePageMessage(std::string(100, 'x')) +
                               FramePageMessage(second);
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, stream.size()}) {
        PageFrameReader reader(50);
        std::vector<PageFrameReader::Frame> frames;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.Append(stream.data() + at, std::min(piece, stream.size() - at));
            while (auto frame = reader.Next())
                frames.push_back(*frame);
        }
        ASSERT_EQ(frames.size(), 3u) << "pieces of " << piece;
        EXPECT_EQ(frames[0].json, first);
        EXPECT_TRUE(frames[1].oversized);
        EXPECT_EQ(frames[1].size, 100u);
        EXPECT_TRUE(frames[1].json.empty()) << "an oversized frame is never kept";
        EXPECT_EQ(frames[2].json, second);
    }
}

// Counts the change notices of a watch.
struct Notices
{
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;

    std::function<void()> Callback()
    {
        return [this] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++count;
            }
            changed.notify_all();
        };
    }
    int Count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
    bool WaitFor(int wanted)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return count >= wanted; });
    }
};

PageMessage PageOf(std::int64_t window, const std::string& title, std::optional<std::string> body = std::nullopt)
{
    PageMessage message;
    message.kind = PageMessage::Kind::Page;
    message.pages.push_back({window, title, "https://" + title + "/", title, std::move(body)});
    return message;
}

std::vector<std::string> Titles(PageSource& source)
{
    std::vector<std::string> titles;
    for (const auto& [id, page] : source.Pages())
        titles.push_back(page->title);
    return titles;
}

TEST(PageSourceTest, KeepsTheLastPageOfEachWindowPerHostAndAHostThatGoesTakesItsPages)
{
    PageSource source;
    Notices notices;
    const auto watch = source.Watch(notices.Callback());
    const auto chrome = source.Connect();
    const auto edge = source.Connect();

    source.Apply(chrome, PageOf(1, "a"));
    source.Apply(edge, PageOf(1, "b"));
    source.Apply(chrome, PageOf(2, "c"));
    EXPECT_EQ(Titles(source), (std::vector<std::string>{"a", "b", "c"})) << "in the order first reported";
    EXPECT_EQ(notices.Count(), 3);
    const WindowId first = source.Pages()[0].first;
    EXPECT_TRUE(PageSource::IsPageWindow(first));

    source.Apply(chrome, PageOf(1, "a"));
    EXPECT_EQ(notices.Count(), 3) << "the same page again is no change";
    source.Apply(chrome, PageOf(1, "a2"));
    EXPECT_EQ(Titles(source), (std::vector<std::string>{"a2", "b", "c"}));
    EXPECT_EQ(source.Pages()[0].first, first) << "a window keeps its id while it shows pages";
    EXPECT_EQ(source.Find(first)->title, "a2");
    EXPECT_EQ(notices.Count(), 4);

    PageMessage closed;
    closed.kind = PageMessage::Kind::Closed;
    closed.window = 2;
    source.Apply(chrome, closed);
    EXPECT_EQ(Titles(source), (std::vector<std::string>{"a2", "b"}));

    // A snapshot names every window of its host: others are gone.
    PageMessage snapshot;
    snapshot.kind = PageMessage::Kind::Snapshot;
    snapshot.pages = {{5, "e", "", "", std::nullopt}};
    source.Apply(edge, snapshot);
    EXPECT_EQ(Titles(source), (std::vector<std::string>{"a2", "e"}));

    source.Disconnect(chrome);
    EXPECT_EQ(Titles(source), (std::vector<std::string>{"e"}));
    EXPECT_EQ(source.Find(first), nullptr);
    source.Apply(chrome, PageOf(1, "late"));
    EXPECT_EQ(Titles(source), (std::vector<std::string>{"e"})) << "nothing from a host that is gone";
    const int before = notices.Count();
    source.Disconnect(edge);
    EXPECT_EQ(notices.Count(), before + 1);
}

TEST(PageSourceTest, BodiesAreWantedWhileReadAndTheDemandLapses)
{
    PageSource source;
    std::atomic<int> told{0};
    source.SetBodiesNotice([&] { ++told; });
    const auto now = PageSource::Clock::now();
    EXPECT_FALSE(source.BodiesWanted());
    source.NoteInspection(now);
    EXPECT_EQ(told, 0);
    source.NoteBodyRead(now);
    EXPECT_TRUE(source.BodiesWanted());
    EXPECT_EQ(told, 1);
    source.NoteBodyRead(now + 1s);
    EXPECT_EQ(told, 1) << "told once per change";
    source.NoteInspection(now + 1s + PageSource::BodyDemandLinger - 1ms);
    EXPECT_TRUE(source.BodiesWanted());
    source.NoteInspection(now + 1s + PageSource::BodyDemandLinger);
    EXPECT_FALSE(source.BodiesWanted());
    EXPECT_EQ(told, 2);
}

class BrowserPagesDesktopTest : public DesktopFixture
{
protected:
    BrowserPagesDesktopTest()
    {
        SetDesktop(std::make_shared<BrowserPagesDesktop>(m_desktop, pages));
        chrome = pages->Connect();
    }
    std::shared_ptr<PageSource> pages = std::make_shared<PageSource>();
    PageSource::ConnectionId chrome = 0;
};

TEST_F(BrowserPagesDesktopTest, TheBrowserRulesMatchReportedPagesAfterTheDesktopsOwnWindows)
{
    SetDesktopJson(R"({"windows": [{"title": "IE", "page": {"title": "Payment at IE", "domain": "ie.example"}}]})");
    PageMessage page;
    page.kind = PageMessage::Kind::Page;
    page.pages.push_back({3, "Payment at Chrome", "https://pay.example/card", "pay.example",
                          std::string("\r\n#### - Body\r\n<input name=cvv>")});
    pages->Apply(chrome, page);

    std::vector<std::string> order;
    {
        const auto desktop = GetDesktop();
        desktop->CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId window) {
            BrowserPageAccess access;
            order.push_back(desktop->OpenBrowserHTMLViewer(window, access)->GetTitle());
            return false;
        });
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Payment at IE", "Payment at Chrome"}));

    BrowserHTMLMethod both({BrowserHTMLCriteria(4, 4, "pay.example"), BrowserHTMLCriteria(1, 2, "Payment")});
    {
        InspectionSnapshot snapshot;
        EXPECT_TRUE(both.Check());
    }
    EXPECT_EQ(both.GetTriggerDescription(), "\r\nMatched BrowserHTML:\r\n"
                                            "Trigger Params-> Object: 'Domain', Type: 'contains', Text: 'pay.example'\r\n"
                                            "Trigger Params-> Object: 'Page title', Type: 'starts with', Text: 'Payment'\r\n");
    InspectionSnapshot snapshot;
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(3, 4, "name=cvv")}).Check());
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(2, 3, "/card")}).Check());
    EXPECT_FALSE(BrowserHTMLMethod({BrowserHTMLCriteria(4, 1, "other.example")}).Check());
}

TEST_F(BrowserPagesDesktopTest, APageGoneBeforeItIsOpenedReadsAsNoPage)
{
    pages->Apply(chrome, PageOf(1, "pay"));
    const auto desktop = GetDesktop();
    auto finder = desktop->CreateBrowserWindowFinder();
    pages->Disconnect(chrome);
    int seen = 0;
    EXPECT_FALSE(finder->FindBrowserWindows([&](WindowId window) {
        BrowserPageAccess access;
        const auto viewer = desktop->OpenBrowserHTMLViewer(window, access);
        EXPECT_EQ(viewer->GetTitle(), "");
        EXPECT_EQ(viewer->GetHTMLBody(), "");
        ++seen;
        return false;
    }));
    EXPECT_EQ(seen, 1);
}

// A desktop whose browser search fails, as a hung Internet Explorer makes it.
class FailingBrowserSearch : public DesktopFile
{
public:
    using DesktopFile::DesktopFile;
    std::unique_ptr<BrowserWindowFinder> CreateBrowserWindowFinder() override
    {
        struct Failing : BrowserWindowFinder
        {
            bool FindBrowserWindows(const WindowVisitor&) override
            {
                throw std::system_error(std::make_error_code(std::errc::timed_out), "Failed to find window");
            }
        };
        return std::make_unique<Failing>();
    }
};

TEST_F(BrowserPagesDesktopTest, AFailedDesktopSearchDoesNotHideTheReportedPages)
{
    SetDesktop(std::make_shared<BrowserPagesDesktop>(std::make_shared<FailingBrowserSearch>(m_path), pages));
    pages->Apply(chrome, PageOf(1, "pay.example"));
    for (const bool snapshot : {false, true}) {
        SCOPED_TRACE(snapshot ? "in an inspection's snapshot" : "on the desktop itself");
        std::optional<InspectionSnapshot> inspection;
        if (snapshot)
            inspection.emplace();
        EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(4, 4, "pay.example")}).Check());
        // With no page matching, the failure is still told.
        EXPECT_THROW(BrowserHTMLMethod({BrowserHTMLCriteria(4, 4, "other.example")}).Check(), std::system_error);
    }
}

TEST_F(BrowserPagesDesktopTest, APageChangeWakesTheInspectionClockAsADesktopChangeDoes)
{
    InspectionClock clock;
    Notices wakes;
    auto member = clock.Join(wakes.Callback());
    ASSERT_TRUE(clock.WatchingDesktop());
    ASSERT_NE(clock.Take(*member, std::chrono::steady_clock::now()), nullptr);

    pages->Apply(chrome, PageOf(1, "pay"));
    ASSERT_TRUE(wakes.WaitFor(1));
    // One wake per moment: the woken member inspects before the next change wakes it again.
    ASSERT_NE(clock.Take(*member, std::max(clock.NextDue(*member), std::chrono::steady_clock::now())), nullptr);
    SetDesktopJson(R"({"windows": [{"title": "Card Payment"}]})");
    EXPECT_TRUE(wakes.WaitFor(2)) << "the desktop's own changes still wake it";
    member.reset();
    EXPECT_FALSE(clock.WatchingDesktop());
    const int before = wakes.Count();
    pages->Apply(chrome, PageOf(1, "pay again"));
    EXPECT_EQ(wakes.Count(), before) << "no member, no wake";
}

TEST_F(BrowserPagesDesktopTest, BodiesAreAskedForOnlyWhileABodyRuleReadsThem)
{
    pages->Apply(chrome, PageOf(1, "pay"));
    {
        InspectionSnapshot snapshot;
        EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(1, 1, "pay")}).Check());
    }
    EXPECT_FALSE(pages->BodiesWanted()) << "a title rule wants no bodies";
    {
        InspectionSnapshot snapshot;
        EXPECT_FALSE(BrowserHTMLMethod({BrowserHTMLCriteria(3, 4, "cvv")}).Check()) << "no body sent yet";
    }
    EXPECT_TRUE(pages->BodiesWanted());
    pages->Apply(chrome, PageOf(1, "pay", "<input name=cvv>"));
    InspectionSnapshot snapshot;
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(3, 4, "cvv")}).Check());
}

} // namespace

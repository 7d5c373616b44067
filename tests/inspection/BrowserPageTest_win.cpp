// Internet Explorer pages against ie_browser_app.exe, which plays the browser with window
// trees of its own and a document object behind "WM_HTML_GETOBJECT".
#include "BrowserApp_win.h"
#include "CountingDesktop.h"
#include "LogCapture.h"
#include "Config/BrowserHTMLMethod.h"
#include "inspection/ComSupport_win.h"
#include "inspection/InspectionSnapshot.h"
#include "inspection/Library_win.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace kzb::inspection;

namespace {

const std::string Hashes(64, '#');

// One document's part of the HTML body.
std::string Block(const std::string& body, const std::string& embedded = "")
{
    return "\r\n" + Hashes + " - Body\r\n" + body + "\r\n" + Hashes + " - Embedded Documents\r\n" + embedded;
}

std::string Ansi(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

class BrowserPages : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_app = new BrowserApp(); }
    static void TearDownTestSuite()
    {
        delete s_app;
        s_app = nullptr;
    }

    void SetUp() override
    {
        m_desktop = CreateSystemDesktop();
        SetDesktop(m_desktop);
    }

    void TearDown() override
    {
        for (const std::string& name : m_frames)
            EXPECT_EQ(s_app->Do("close\t" + name), "ok close");
        SetDesktop(nullptr);
    }

    void Frame(const std::string& name, const std::string& kind)
    {
        ASSERT_EQ(s_app->Do("frame\t" + name + "\t" + kind), "ok frame");
        m_frames.push_back(name);
    }

    static void Navigate(const std::string& name, const std::string& page)
    {
        ASSERT_EQ(s_app->Do("navigate\t" + name + "\t" + page), "ok navigate");
    }

    // The browser windows in the finder's order, by title.
    std::vector<std::string> BrowserTitles()
    {
        std::vector<std::string> titles;
        const bool stopped = m_desktop->CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId window) {
            titles.push_back(m_desktop->GetWindowTitle(window, 99));
            return false;
        });
        EXPECT_FALSE(stopped);
        return titles;
    }

    std::unique_ptr<BrowserHTMLViewer> Page(const std::string& title)
    {
        WindowId found = 0;
        m_desktop->CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId window) {
            found = window;
            return m_desktop->GetWindowTitle(window, 99) == title;
        });
        EXPECT_EQ(m_desktop->GetWindowTitle(found, 99), title);
        return m_desktop->OpenBrowserHTMLViewer(found, m_access);
    }

    static inline BrowserApp* s_app = nullptr;
    std::shared_ptr<Desktop> m_desktop;
    BrowserPageAccess m_access;
    std::vector<std::string> m_frames;
};

} // namespace

TEST_F(BrowserPages, TitleUrlDomainAndTheBodiesOfEmbeddedFramesToAnyDepth)
{
    struct Case
    {
        const char* bodies; // tab-separated: the page's, then each frame's inside the one before
        std::string expected;
    };
    const Case cases[] = {
        {"<h1>Pay</h1>\t<p>inner</p>", Block("<h1>Pay</h1>", Block("<p>inner</p>"))},
        {"outer\tmiddle\t", Block("outer", Block("middle", Block("")))},
        {"self\t^", Block("self")}, // a frame showing the page itself is not followed again
    };
    Frame("KZB Bank", "ie");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bodies);
        Navigate("KZB Bank", "Zahlung f\xC3\xBCr Karte\thttps://pay.bank.example/card?id=1\tpay.bank.example\t" +
                                 std::string(c.bodies));
        const auto page = Page("KZB Bank");
        EXPECT_EQ(page->GetTitle(), Ansi(L"Zahlung f\u00FCr Karte")) << "in the ANSI code page";
        EXPECT_EQ(page->GetURL(), "https://pay.bank.example/card?id=1");
        EXPECT_EQ(page->GetDomain(), "pay.bank.example");
        EXPECT_EQ(page->GetHTMLBody(), c.expected);
    }
}

TEST_F(BrowserPages, FramesHostedInChromeAndBehindAFrameTab)
{
    Frame("KZB Hosted", "chrome");
    Frame("KZB Tabbed", "frametab");
    Navigate("KZB Hosted", "Hosted page\thttps://a.example/\ta.example\tA");
    Navigate("KZB Tabbed", "Tabbed page\thttps://b.example/\tb.example\tB");
    EXPECT_EQ(Page("KZB Hosted")->GetTitle(), "Hosted page");
    EXPECT_EQ(Page("KZB Tabbed")->GetTitle(), "Tabbed page");
}

TEST_F(BrowserPages, AFrameWithoutItsServerWindowHasAnEmptyPage)
{
    Frame("KZB Blank", "noserver");
    const auto page = Page("KZB Blank");
    EXPECT_EQ(page->GetTitle(), "");
    EXPECT_EQ(page->GetURL(), "");
    EXPECT_EQ(page->GetDomain(), "");
    EXPECT_EQ(page->GetHTMLBody(), "");

    EXPECT_FALSE(BrowserHTMLMethod({BrowserHTMLCriteria(1, 4, "x")}).Check());
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(1, 4, "")}).Check()) << "an empty text is contained";
}

TEST_F(BrowserPages, TheFinderTakesIEFramesFirstThenTheOnesChromeHostsAndStopsAtTrue)
{
    int calls = 0;
    EXPECT_FALSE(m_desktop->CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 0) << "no IEFrame, no Chrome_WidgetWin_1";

    Frame("KZB Chrome", "chrome");
    Frame("KZB Chrome Only", "chromeonly");
    Frame("KZB IE 1", "ie");
    Frame("KZB IE 2", "noserver");
    const auto titles = BrowserTitles();
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[2], "KZB Chrome");
    EXPECT_NE(titles[0], titles[1]);
    for (const auto& title : {titles[0], titles[1]})
        EXPECT_TRUE(title == "KZB IE 1" || title == "KZB IE 2") << title;

    calls = 0;
    EXPECT_TRUE(m_desktop->CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId) { return ++calls == 2; }));
    EXPECT_EQ(calls, 2);
}

TEST_F(BrowserPages, AMethodMatchesOnlyAPageThatMeetsEveryCriterion)
{
    Frame("KZB Welcome", "ie");
    Frame("KZB Payment", "chrome");
    Navigate("KZB Welcome", "Welcome\thttps://www.bank.example/\twww.bank.example\t<p>hello</p>");
    Navigate("KZB Payment", "Payment details\thttps://pay.bank.example/\tpay.bank.example\t<div>\t<input name=cvv>");

    BrowserHTMLMethod method({BrowserHTMLCriteria(4, 4, "bank.example"), BrowserHTMLCriteria(1, 2, "payment")});
    EXPECT_TRUE(method.Check());
    EXPECT_EQ(method.GetTriggerDescription(),
              "\r\nMatched BrowserHTML:\r\n"
              "Trigger Params-> Object: 'Domain', Type: 'contains', Text: 'bank.example'\r\n"
              "Trigger Params-> Object: 'Page title', Type: 'starts with', Text: 'payment'\r\n");
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(3, 4, "NAME=CVV")}).Check()) << "in the embedded frame";
    EXPECT_FALSE(BrowserHTMLMethod({BrowserHTMLCriteria(4, 1, "bank.example")}).Check());

    Navigate("KZB Payment", "Receipt\thttps://pay.bank.example/done\tpay.bank.example\t<p>thanks</p>");
    EXPECT_FALSE(method.Check()) << "navigated away";
}

TEST_F(BrowserPages, ABrowserThatDoesNotAnswerIsSkippedSaidOnceAndReadAgainWhenItAnswers)
{
    for (const char* how : {"stall", "hang"}) { // in WM_HTML_GETOBJECT, in the document's getters
        SCOPED_TRACE(how);
        LogCapture log;
        const std::string name = std::string("KZB Stalled ") + how;
        Frame(name, "ie");
        Navigate(name, "Payment\thttps://pay.example/\tpay.example\t<form>");
        auto counting = std::make_shared<CountingDesktop>(m_desktop);
        std::vector<std::unique_ptr<BrowserHTMLMethod>> methods;
        for (const char* text : {"pay.example", "bank.example", "shop.example"})
            methods.push_back(std::make_unique<BrowserHTMLMethod>(std::vector{BrowserHTMLCriteria(4, 4, text)}));
        auto moment = [&] {
            InspectionSnapshot snapshot(std::make_shared<CachingDesktop>(counting));
            int fired = 0;
            for (auto& method : methods)
                fired += method->Check() ? 1 : 0;
            return fired;
        };

        ASSERT_EQ(s_app->Do(how), std::string("ok ") + how);
        // One wait for the three methods of the moment, then nothing fires and nothing fails.
        EXPECT_EQ(moment(), 0);
        EXPECT_EQ(counting->pageOpens, 1) << "one reader for the three methods of one inspection";
        EXPECT_EQ(log.Count("did not answer within 1000 ms"), 1u);
        EXPECT_EQ(moment(), 0);
        EXPECT_EQ(log.Count("did not answer within 1000 ms"), 1u) << "said once";
        EXPECT_EQ(log.Count("Failed to check"), 0u);

        ASSERT_EQ(s_app->Do("resume"), "ok resume");
        // Read again once its reader has come back: the page fires as before.
        int fired = 0;
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             fired == 0 && std::chrono::steady_clock::now() < until;)
            fired = moment();
        EXPECT_EQ(fired, 1);
        EXPECT_EQ(methods[0]->GetTriggerDescription(),
                  "\r\nMatched BrowserHTML:\r\nTrigger Params-> Object: 'Domain', Type: 'contains', Text: "
                  "'pay.example'\r\n");
        EXPECT_EQ(log.Count("is answering again"), 1u);
        ASSERT_EQ(s_app->Do("close\t" + name), "ok close");
        m_frames.clear();
    }
}

TEST(PageAccessErrors, LibrariesFunctionsAndCOMResults)
{
    try {
        Library library("KZBNoSuchLibrary.dll");
        ADD_FAILURE() << "loaded";
    } catch (const std::system_error& error) {
        EXPECT_STREQ(error.what(), "Failed to load library 'KZBNoSuchLibrary.dll'");
        EXPECT_EQ(error.code(), std::error_code(ERROR_MOD_NOT_FOUND, std::system_category()));
    }

    Library kernel("kernel32.dll");
    try {
        kernel.GetFunction("KZBNoSuchFunction");
        ADD_FAILURE() << "found";
    } catch (const std::system_error& error) {
        EXPECT_STREQ(error.what(),
                     "Failed to retrieve address of function or variable 'KZBNoSuchFunction' from library 'kernel32.dll'");
        EXPECT_EQ(error.code(), std::error_code(ERROR_PROC_NOT_FOUND, std::system_category()));
    }

    EXPECT_STREQ(GetComErrorCategory().name(), "COM");
    const std::string text = GetComErrorCategory().message(static_cast<int>(E_NOINTERFACE));
    ASSERT_GT(text.size(), 13u);
    EXPECT_EQ(text.substr(text.size() - 13), " (0x80004002)");
    EXPECT_NE(GetComErrorCategory().message(static_cast<int>(S_FALSE)).find(" (0x00000001)"), std::string::npos);

    BrowserPageAccess access; // COM for this thread, as the method has it
    ActiveAccessibilityLibrary accessibility;
    IUnknown* object = nullptr;
    try {
        accessibility.ObjectFromLresult(0, IID_IUnknown, 0, reinterpret_cast<void**>(&object));
        ADD_FAILURE() << "an object from nothing";
    } catch (const std::system_error& error) {
        EXPECT_STREQ(error.what(), "Failed to get object from lresult");
        EXPECT_EQ(error.code().category(), GetComErrorCategory());
        EXPECT_LT(error.code().value(), 0);
    }
    EXPECT_EQ(object, nullptr);
}

TEST(PageAccessErrors, COMIsUninitialisedOnlyByWhoInitialisedIt)
{
    auto onThread = [](auto body) { std::thread(body).join(); };

    onThread([] {
        { ComInitialization first; }
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "the first one uninitialised";
        {
            ComInitialization second; // S_FALSE: not its own
        }
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "the second one left it";
        for (int i = 0; i < 3; ++i)
            CoUninitialize();
    });

    onThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        try {
            ComInitialization com;
            ADD_FAILURE() << "initialised in another apartment";
        } catch (const std::system_error& error) {
            EXPECT_STREQ(error.what(), "Failed to initialise COM");
            EXPECT_EQ(error.code(), std::error_code(static_cast<int>(RPC_E_CHANGED_MODE), GetComErrorCategory()));
        }
        CoUninitialize();
    });

    // Built on one thread, released on another: the other thread's COM stays as it was.
    std::unique_ptr<ComInitialization> elsewhere;
    onThread([&] { elsewhere = std::make_unique<ComInitialization>(); });
    onThread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        elsewhere.reset();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        CoUninitialize();
        CoUninitialize();
    });
}

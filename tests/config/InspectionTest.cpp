#include "../protocol/ByteImage.h"
#include "../support/CountingDesktop.h"
#include "../support/DesktopFixture.h"
#include "../support/LogCapture.h"
#include "Config/BrowserHTMLMethod.h"
#include "Config/DetermineIDFromWindowTitle.h"
#include "Config/WindowTitleMethod.h"
#include "inspection/InspectionSnapshot.h"

#include <gtest/gtest.h>

using namespace bytes;

namespace {

std::unique_ptr<AutoSuppressionMethod> Method(std::uint32_t type, const char* ini)
{
    auto method = CreateAutoSuppressionMethod(type);
    EXPECT_GT(method->ParseIniString(ini), 0u) << ini;
    return method;
}

const std::string Title120 = "Card Payment " + std::string(84, '.') + "ABCDEFGHIJKLMNOPQRSTUV";

} // namespace

class WindowTitleCheck : public DesktopFixture
{
};

TEST_F(WindowTitleCheck, ExistsMatchesHiddenWindowsFocusOnlyTheForeground)
{
    SetDesktopJson(R"({"windows": [
        {"title": "Inbox"},
        {"title": "Card Payment - CRM", "visible": false},
        {"title": "Notepad", "foreground": true}]})");

    auto exists = Method(2, "1|2|0|card payment|");
    EXPECT_TRUE(exists->Check());
    EXPECT_EQ(exists->GetTriggerDescription(),
              "\nMatched WindowTitle: \nFound title:\"Card Payment - CRM\"\nTrigger Params-> Type: \"Title exists.\", "
              "Pattern: \"starts with\", Text: \"card payment\"");

    auto focus = Method(2, "2|2|0|card payment|");
    EXPECT_FALSE(focus->Check());

    SetDesktopJson(R"({"windows": [{"title": "Card Payment - CRM", "foreground": true}]})");
    EXPECT_TRUE(focus->Check());
    EXPECT_NE(focus->GetTriggerDescription().find("Type: \"Title has focus.\""), std::string::npos);
}

TEST_F(WindowTitleCheck, LongTitlesAreReadTo98Or99Characters)
{
    SetDesktopJson(R"({"windows": [{"title": ")" + Title120 + R"(", "foreground": true}]})");
    // Characters 98 and 99 of the title are "AB".
    EXPECT_TRUE(Method(2, "1|3|0|A|")->Check()) << "enumerated: 98 characters";
    EXPECT_FALSE(Method(2, "1|3|0|AB|")->Check());
    EXPECT_TRUE(Method(2, "2|3|0|AB|")->Check()) << "foreground: 99 characters";
    EXPECT_FALSE(Method(2, "2|3|0|ABC|")->Check());
}

TEST_F(WindowTitleCheck, EndsWithIgnoresCase)
{
    SetDesktopJson(R"({"windows": [{"title": "Shop - CHECKOUT"}]})");
    EXPECT_TRUE(Method(2, "1|3|0|Checkout|")->Check());
}

TEST_F(WindowTitleCheck, UnknownTriggerLogsOnEveryCheck)
{
    SetDesktopJson(R"({"windows": [{"title": "Payment", "foreground": true}]})");
    WindowTitleMethod method;
    method.Deserialize(Hex("02 00 00 00 07 00 00 00 01 00 00 00") + Text("Payment", 100) +
                       U32(0));
    LogCapture log;
    EXPECT_FALSE(method.Check());
    EXPECT_FALSE(method.Check());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].level, 0);
    EXPECT_EQ(lines[1].text, "Check() - Unrecognised window trigger (7).");
}

TEST_F(WindowTitleCheck, SubWindowSearchesChildrenOfEveryMatchingWindow)
{
    SetDesktopJson(R"({"windows": [
        {"title": "Orders - 1", "children": [{"text": "Name"}, {"text": "Card number", "responds": false}]},
        {"title": "Orders - 2", "children": [{"text": "Notes"}, {"text": "Card Number:"}]}]})");
    auto method = Method(3, "1|2|0|orders|2|card number|");
    EXPECT_TRUE(method->Check());
    EXPECT_EQ(method->GetTriggerDescription(),
              "\nMatched SubWindow Text: \nWindow title: \"Orders - 2\"subwindow text: \"Card Number:\"\n"
              "Trigger Params-> Main Window, Type: \"Title exists.\", Pattern: \"starts with\", Text: \"orders\", "
              "Subwindow Pattern: \"starts with\", Text: \"card number\"");

    // No child matches now: false, and the last description stays.
    SetDesktopJson(R"({"windows": [{"title": "Orders - 1", "children": [{"text": "Name"}]}]})");
    const std::string before = method->GetTriggerDescription();
    EXPECT_FALSE(method->Check());
    EXPECT_EQ(method->GetTriggerDescription(), before);
}

TEST_F(WindowTitleCheck, CopiesStartWithoutResults)
{
    SetDesktopJson(R"({"windows": [{"title": "Payment"}]})");
    auto method = Method(2, "1|1|0|payment|");
    ASSERT_TRUE(method->Check());
    auto copy = CopyAutoSuppressionMethod(method.get());
    EXPECT_EQ(copy->GetTriggerDescription(), "");
    EXPECT_FALSE(static_cast<WindowTitleMethod*>(copy.get())->IsMatched());
}

class BrowserCheck : public DesktopFixture
{
};

TEST_F(BrowserCheck, EveryCriterionMustMatchOnePage)
{
    BrowserHTMLMethod method({BrowserHTMLCriteria(4, 4, "bank.example"), BrowserHTMLCriteria(1, 2, "payment")});
    SetDesktopJson(R"({"windows": [
        {"title": "Bank", "page": {"title": "Welcome", "domain": "www.bank.example"}},
        {"title": "Notes"}]})");
    EXPECT_FALSE(method.Check());

    SetDesktopJson(R"({"windows": [
        {"title": "Bank", "page": {"title": "Welcome", "domain": "www.bank.example"}},
        {"title": "Bank 2", "page": {"title": "Payment details", "domain": "pay.bank.example"}}]})");
    EXPECT_TRUE(method.Check());
    EXPECT_EQ(method.GetTriggerDescription(),
              "\r\nMatched BrowserHTML:\r\n"
              "Trigger Params-> Object: 'Domain', Type: 'contains', Text: 'bank.example'\r\n"
              "Trigger Params-> Object: 'Page title', Type: 'starts with', Text: 'payment'\r\n");
}

TEST_F(BrowserCheck, BodiesUrlsUnknownObjectsAndNoBrowsers)
{
    SetDesktopJson(R"({"windows": [{"title": "IE", "page": {"url": "https://pay.example/card",
        "body": "<form><input name=\"cvv\"></form>"}}]})");
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(3, 4, "NAME=\"CVV\"")}).Check());
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(2, 3, "/card")}).Check());
    EXPECT_FALSE(BrowserHTMLMethod({BrowserHTMLCriteria(5, 4, "x")}).Check());
    EXPECT_TRUE(BrowserHTMLMethod({BrowserHTMLCriteria(5, 4, "")}).Check());

    BrowserHTMLMethod none;
    EXPECT_TRUE(none.Check()) << "without criteria the first browser window matches";
    EXPECT_EQ(none.GetTriggerDescription(), "\r\nMatched BrowserHTML:\r\n");

    SetDesktopJson(R"({"windows": [{"title": "Notes"}]})");
    EXPECT_FALSE(BrowserHTMLMethod().Check());
}

class IDDetection : public DesktopFixture
{
};

TEST_F(IDDetection, CutsTheIdentifierOutOfTheTitle)
{
    struct Case
    {
        const char* title;
        const char* startsAfter;
        const char* endsBefore;
        const char* id; // null: none
    };
    const Case cases[] = {
        {"Agent 4711 - Desk", "agent ", " -", "4711"},
        {"ID:AB12/Shift", "id:", "/", "AB12"},
        {"ID:AB12/Shift", "ID:", "/", nullptr},
        {"end/ then id:X", "id:", "/", nullptr},
        {"ID:AB12/Shift", "id:", "", "AB12/Shift"},
        {"ID:AB12/Shift", "", "/", "ID:AB12"},
        {"ID:/Shift", "id:", "/", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        DetermineIDFromWindowTitle method(4, "", c.startsAfter, c.endsBefore);
        const auto id = method.CutID(c.title);
        if (c.id == nullptr) {
            EXPECT_FALSE(id.has_value());
        } else {
            ASSERT_TRUE(id.has_value());
            EXPECT_EQ(*id, c.id);
        }
    }
}

TEST_F(IDDetection, LaterWindowsAndKeptIdentifier)
{
    SetDesktopJson(R"({"windows": [{"title": "Agent none - Desk"}, {"title": "Agent 4711 - Desk"}]})");
    DetermineIDFromWindowTitle method(2, "agent", "agent ", " - ");
    EXPECT_TRUE(method.DetectID());
    EXPECT_EQ(method.GetDetectedID(), "none");

    DetermineIDFromWindowTitle numeric(2, "agent", "agent 4", " - ");
    EXPECT_TRUE(numeric.DetectID());
    EXPECT_EQ(numeric.GetDetectedID(), "711");

    SetDesktopJson(R"({"windows": [{"title": "Agent - Desk"}]})");
    EXPECT_FALSE(numeric.DetectID());
    EXPECT_EQ(numeric.GetDetectedID(), "711");
}

class InspectionSnapshotTest : public DesktopFixture
{
};

TEST_F(InspectionSnapshotTest, MethodsOfOneInspectionShareEveryRead)
{
    SetDesktopJson(R"({"windows": [{"title": "Inbox"}, {"title": "Orders", "children": [{"text": "Card", "responds": false}]},
                                   {"title": "Payment"}]})");
    auto counting = std::make_shared<CountingDesktop>(m_desktop);
    kzb::inspection::SetDesktop(counting);

    std::vector<std::unique_ptr<AutoSuppressionMethod>> methods;
    methods.push_back(Method(2, "1|1|0|Payment|"));
    methods.push_back(Method(2, "1|1|0|Refund|"));
    methods.push_back(Method(3, "1|1|0|Orders|1|Card|"));
    methods.push_back(Method(3, "1|1|0|Orders|1|Expiry|"));

    std::vector<bool> alone;
    for (auto& method : methods)
        alone.push_back(method->Check());
    const int titleReadsAlone = counting->titleReads;
    EXPECT_EQ(counting->textReads, 2);

    counting->enumerations = counting->titleReads = counting->textReads = 0;
    std::vector<bool> shared;
    {
        kzb::inspection::InspectionSnapshot snapshot;
        for (auto& method : methods)
            shared.push_back(method->Check());
    }
    EXPECT_EQ(shared, alone);
    EXPECT_EQ(shared, (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(counting->enumerations, 1);
    EXPECT_EQ(counting->titleReads, 3);
    EXPECT_LT(counting->titleReads, titleReadsAlone);
    EXPECT_EQ(counting->textReads, 1) << "a child that does not answer costs its time-out once";

    // Outside the snapshot every Check reads the desktop again.
    EXPECT_TRUE(methods[0]->Check());
    EXPECT_EQ(counting->enumerations, 2);
}

namespace {

// What a Check gave: "true", "false" or the text of what it threw.
std::string Outcome(AutoSuppressionMethod& method)
{
    try {
        return method.Check() ? "true" : "false";
    } catch (const std::exception& error) {
        return error.what();
    }
}

std::vector<std::string> Outcomes(std::vector<std::unique_ptr<AutoSuppressionMethod>>& methods)
{
    std::vector<std::string> outcomes;
    for (auto& method : methods)
        outcomes.push_back(Outcome(*method) + " " + method->GetTriggerDescription());
    return outcomes;
}

std::unique_ptr<AutoSuppressionMethod> PageMethod(std::vector<BrowserHTMLCriteria> criteria)
{
    return std::make_unique<BrowserHTMLMethod>(std::move(criteria));
}

// Browser windows whose search can fail after the last one, and pages that cannot be opened
// (no title); nothing else.
class FailingBrowsers : public kzb::inspection::Desktop
{
public:
    struct Window
    {
        kzb::inspection::WindowId id;
        std::optional<std::string> title;
    };
    FailingBrowsers(std::vector<Window> windows, std::string searchFailure)
        : m_windows(std::move(windows)), m_searchFailure(std::move(searchFailure))
    {
    }

    void EnumTopLevelWindows(const kzb::inspection::WindowVisitor&) override {}
    kzb::inspection::WindowId GetForegroundWindow() override { return 0; }
    std::string GetWindowTitle(kzb::inspection::WindowId, std::size_t) override { return {}; }
    void EnumChildWindows(kzb::inspection::WindowId, const kzb::inspection::WindowVisitor&) override {}
    std::string GetWindowTextTimeout(kzb::inspection::WindowId, std::size_t, std::chrono::milliseconds) override
    {
        return {};
    }
    kzb::inspection::WindowId FindWindowByClass(kzb::inspection::WindowId, kzb::inspection::WindowId,
                                                const std::string&) override
    {
        return 0;
    }

    std::unique_ptr<kzb::inspection::BrowserWindowFinder> CreateBrowserWindowFinder() override
    {
        struct Finder : kzb::inspection::BrowserWindowFinder
        {
            const FailingBrowsers& desktop;
            explicit Finder(const FailingBrowsers& d) : desktop(d) {}
            bool FindBrowserWindows(const kzb::inspection::WindowVisitor& found) override
            {
                for (const Window& window : desktop.m_windows) {
                    if (found(window.id))
                        return true;
                }
                if (!desktop.m_searchFailure.empty())
                    throw std::runtime_error(desktop.m_searchFailure);
                return false;
            }
        };
        return std::make_unique<Finder>(*this);
    }

    std::unique_ptr<kzb::inspection::BrowserHTMLViewer> OpenBrowserHTMLViewer(
        kzb::inspection::WindowId id, const kzb::inspection::BrowserPageAccess&) override
    {
        for (const Window& window : m_windows) {
            if (window.id == id && window.title) {
                struct Viewer : kzb::inspection::BrowserHTMLViewer
                {
                    std::string title;
                    std::string GetDomain() override { return {}; }
                    std::string GetHTMLBody() override { return {}; }
                    std::string GetTitle() override { return title; }
                    std::string GetURL() override { return {}; }
                };
                auto viewer = std::make_unique<Viewer>();
                viewer->title = *window.title;
                return viewer;
            }
        }
        throw std::runtime_error("Failed to send window message 'WM_HTML_GETOBJECT'");
    }

private:
    std::vector<Window> m_windows;
    std::string m_searchFailure;
};

} // namespace

TEST_F(InspectionSnapshotTest, EveryBrowserPageIsReadOncePerInspectionWithTheSameResults)
{
    SetDesktopJson(R"({"windows": [
        {"title": "Bank", "page": {"title": "Welcome", "url": "https://www.bank.example/", "domain": "www.bank.example",
                                   "body": "<p>hello</p>"}},
        {"title": "Notes"},
        {"title": "Pay", "page": {"title": "Payment details", "url": "https://pay.bank.example/card",
                                  "domain": "pay.bank.example", "body": "<input name=cvv>"}},
        {"title": "Shop", "page": {"title": "Basket", "url": "https://shop.example/", "domain": "shop.example"}}]})");
    auto counting = std::make_shared<CountingDesktop>(m_desktop);
    kzb::inspection::SetDesktop(counting);

    std::vector<std::unique_ptr<AutoSuppressionMethod>> methods;
    methods.push_back(PageMethod({BrowserHTMLCriteria(4, 4, "bank.example"), BrowserHTMLCriteria(1, 2, "payment")}));
    methods.push_back(PageMethod({BrowserHTMLCriteria(3, 4, "name=CVV")}));
    methods.push_back(PageMethod({BrowserHTMLCriteria(2, 3, "/checkout")}));
    methods.push_back(PageMethod({BrowserHTMLCriteria(1, 1, "basket"), BrowserHTMLCriteria(4, 1, "shop.example")}));
    methods.push_back(PageMethod({BrowserHTMLCriteria(5, 4, "x")}));
    methods.push_back(Method(2, "1|1|0|Notes|"));

    const auto alone = Outcomes(methods);
    EXPECT_EQ(counting->browserSearches, 5);
    EXPECT_EQ(counting->pageOpens, 2 + 2 + 3 + 3 + 3);

    counting->browserSearches = counting->pageOpens = counting->pageReads = 0;
    std::vector<std::string> shared;
    {
        kzb::inspection::InspectionSnapshot snapshot;
        shared = Outcomes(methods);
    }
    EXPECT_EQ(shared, alone);
    EXPECT_EQ(shared[0].substr(0, 5), "true ");
    EXPECT_EQ(shared[2], "false ");
    EXPECT_EQ(counting->browserSearches, 1);
    EXPECT_EQ(counting->pageOpens, 3) << "each browser window once";
    EXPECT_EQ(counting->pageReads, 4 + 4 + 3) << "each property of each page once";
}

TEST_F(InspectionSnapshotTest, BrowserFailuresComeWhereTheyWouldWithoutIt)
{
    // Window 2's page cannot be opened; the search fails after window 3.
    auto browsers = std::make_shared<FailingBrowsers>(
        std::vector<FailingBrowsers::Window>{{1, "Payment"}, {2, std::nullopt}, {3, "Receipt"}},
        "Failed to find window of class 'Chrome_WidgetWin_2'");
    auto counting = std::make_shared<CountingDesktop>(browsers);
    kzb::inspection::SetDesktop(counting);

    std::vector<std::unique_ptr<AutoSuppressionMethod>> methods;
    methods.push_back(PageMethod({BrowserHTMLCriteria(1, 1, "payment")}));
    methods.push_back(PageMethod({BrowserHTMLCriteria(1, 1, "receipt")}));
    methods.push_back(PageMethod({BrowserHTMLCriteria(1, 1, "receipt")}));
    const auto alone = Outcomes(methods);
    EXPECT_EQ(alone, (std::vector<std::string>{"true \r\nMatched BrowserHTML:\r\nTrigger Params-> Object: 'Page title', "
                                               "Type: 'exact match', Text: 'payment'\r\n",
                                               "Failed to send window message 'WM_HTML_GETOBJECT' ",
                                               "Failed to send window message 'WM_HTML_GETOBJECT' "}));

    counting->pageOpens = 0;
    {
        kzb::inspection::InspectionSnapshot snapshot;
        EXPECT_EQ(Outcomes(methods), alone);
    }
    EXPECT_EQ(counting->pageOpens, 2) << "the page that failed is tried once";

    browsers = std::make_shared<FailingBrowsers>(std::vector<FailingBrowsers::Window>{{1, "Payment"}, {3, "Receipt"}},
                                                 "Failed to find window of class 'Chrome_WidgetWin_2'");
    kzb::inspection::SetDesktop(browsers);
    methods.push_back(PageMethod({BrowserHTMLCriteria(1, 1, "refund")}));
    const auto searched = Outcomes(methods);
    EXPECT_EQ(searched[2].substr(0, 5), "true ") << "found before the search failed";
    EXPECT_EQ(searched[3], "Failed to find window of class 'Chrome_WidgetWin_2' ");
    {
        kzb::inspection::InspectionSnapshot snapshot;
        EXPECT_EQ(Outcomes(methods), searched);
    }
}

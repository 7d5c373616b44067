// The window-title methods against a plain reference written from the rules, over a few
// thousand random desktops and trigger sets: the same triggers fire, with the same
// descriptions, alone and when every method of an inspection shares one snapshot.
#include "Config/WindowTitleMethod.h"
#include "inspection/Desktop.h"
#include "inspection/InspectionSnapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

using kzb::inspection::WindowId;

namespace {

struct Window
{
    std::string title;
    std::vector<std::string> children;
};

struct Scene
{
    std::vector<Window> windows;
    int foreground = -1; // index, or none
};

// The scene as a desktop: window i is (i + 1) * 1000, its child j adds j + 1.
class SceneDesktop : public kzb::inspection::Desktop
{
public:
    explicit SceneDesktop(const Scene& scene) : m_scene(scene) {}

    void EnumTopLevelWindows(const kzb::inspection::WindowVisitor& visit) override
    {
        for (std::size_t i = 0; i < m_scene.windows.size(); ++i) {
            if (!visit((i + 1) * 1000))
                return;
        }
    }
    WindowId GetForegroundWindow() override
    {
        return m_scene.foreground < 0 ? 0 : (static_cast<WindowId>(m_scene.foreground) + 1) * 1000;
    }
    std::string GetWindowTitle(WindowId window, std::size_t maxLength) override
    {
        return m_scene.windows[window / 1000 - 1].title.substr(0, maxLength);
    }
    void EnumChildWindows(WindowId window, const kzb::inspection::WindowVisitor& visit) override
    {
        const auto& children = m_scene.windows[window / 1000 - 1].children;
        for (std::size_t j = 0; j < children.size(); ++j) {
            if (!visit(window + j + 1))
                return;
        }
    }
    std::string GetWindowTextTimeout(WindowId window, std::size_t maxLength, std::chrono::milliseconds) override
    {
        return m_scene.windows[window / 1000 - 1].children[window % 1000 - 1].substr(0, maxLength);
    }
    WindowId FindWindowByClass(WindowId, WindowId, const std::string&) override { return 0; }
    std::unique_ptr<kzb::inspection::BrowserWindowFinder> CreateBrowserWindowFinder() override { return nullptr; }
    std::unique_ptr<kzb::inspection::BrowserHTMLViewer> OpenBrowserHTMLViewer(
        WindowId, const kzb::inspection::BrowserPageAccess&) override
    {
        return nullptr;
    }

private:
    const Scene& m_scene;
};

struct Trigger
{
    unsigned trigger;          // 1 title exists, 2 title has focus
    unsigned pattern;          // 1 exact, 2 starts with, 3 ends with, 4 contains
    std::string text;
    std::optional<std::pair<unsigned, std::string>> child; // pattern and text of a sub-window trigger
};

// ------------------------------------------------ the reference, from the rules

std::string Lower(std::string text)
{
    for (char& c : text)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return text;
}

bool Matches(const std::string& found, unsigned pattern, const std::string& wanted)
{
    const std::string f = Lower(found), w = Lower(wanted);
    switch (pattern) {
    case 1: return f == w;
    case 2: return f.size() >= w.size() && f.compare(0, w.size(), w) == 0;
    case 3: return f.size() >= w.size() && f.compare(f.size() - w.size(), w.size(), w) == 0;
    case 4: return f.find(w) != std::string::npos;
    }
    return false;
}

const char* PatternName(unsigned pattern)
{
    static const char* const names[] = {"", "exact match", "starts with", "ends with", "contains"};
    return names[pattern];
}

std::string Q(const std::string& text)
{
    return "\"" + text + "\"";
}

// Whether the trigger fires, and its description when it does.
std::optional<std::string> Reference(const Scene& scene, const Trigger& t)
{
    const char* type = t.trigger == 1 ? "Title exists." : "Title has focus.";
    std::vector<std::size_t> candidates;
    const std::size_t length = t.trigger == 1 ? 98 : 99;
    if (t.trigger == 1) {
        for (std::size_t i = 0; i < scene.windows.size(); ++i)
            candidates.push_back(i);
    } else if (scene.foreground >= 0) {
        candidates.push_back(static_cast<std::size_t>(scene.foreground));
    }
    for (std::size_t i : candidates) {
        const std::string title = scene.windows[i].title.substr(0, length);
        if (!Matches(title, t.pattern, t.text))
            continue;
        if (!t.child) {
            return "\nMatched WindowTitle: \nFound title:" + Q(title) + "\nTrigger Params-> Type: " + Q(type) +
                   ", Pattern: " + Q(PatternName(t.pattern)) + ", Text: " + Q(t.text);
        }
        for (const std::string& child : scene.windows[i].children) {
            const std::string text = child.substr(0, 98);
            if (Matches(text, t.child->first, t.child->second)) {
                return "\nMatched SubWindow Text: \nWindow title: " + Q(title) + "subwindow text: " + Q(text) +
                       "\nTrigger Params-> Main Window, Type: " + Q(type) + ", Pattern: " + Q(PatternName(t.pattern)) +
                       ", Text: " + Q(t.text) + ", Subwindow Pattern: " + Q(PatternName(t.child->first)) +
                       ", Text: " + Q(t.child->second);
            }
        }
        if (t.trigger == 2)
            break;
    }
    return std::nullopt;
}

// ------------------------------------------------ random scenes and triggers

class Generator
{
public:
    explicit Generator(unsigned seed) : m_random(seed) {}

    std::string Word()
    {
        static const char* const words[] = {"Card", "payment", "CRM", "Orders", "card number", "Billing",
                                            "a",    "NOTES",   "-",   "Checkout", "pay", "Customer 42"};
        std::string word = words[Pick(std::size(words))];
        for (char& c : word) {
            if (Pick(4) == 0)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return word;
    }

    std::string Text(std::size_t maxWords)
    {
        std::string text;
        const std::size_t words = Pick(maxWords + 1);
        for (std::size_t i = 0; i < words; ++i)
            text += (i ? " " : "") + Word();
        if (Pick(10) == 0)
            text += std::string(90 + Pick(20), 'x') + "Card"; // around the 98/99-character cut
        return text;
    }

    Scene MakeScene()
    {
        Scene scene;
        const std::size_t count = Pick(12);
        for (std::size_t i = 0; i < count; ++i) {
            Window window{Text(4), {}};
            const std::size_t children = Pick(4);
            for (std::size_t j = 0; j < children; ++j)
                window.children.push_back(Text(3));
            scene.windows.push_back(window);
        }
        scene.foreground = count && Pick(3) ? static_cast<int>(Pick(count)) : -1;
        return scene;
    }

    Trigger MakeTrigger()
    {
        Trigger t{static_cast<unsigned>(1 + Pick(2)), static_cast<unsigned>(1 + Pick(4)), NonEmpty(), std::nullopt};
        if (Pick(3) == 0)
            t.child = std::make_pair(static_cast<unsigned>(1 + Pick(4)), NonEmpty());
        return t;
    }

private:
    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random); }

    std::string NonEmpty()
    {
        std::string text = Pick(3) ? Word() : Text(2);
        if (text.empty())
            text = Word();
        return text.substr(0, 99);
    }

    std::mt19937 m_random;
};

std::unique_ptr<AutoSuppressionMethod> MethodOf(const Trigger& t)
{
    std::string ini = std::to_string(t.trigger) + "|" + std::to_string(t.pattern) + "|0|" + t.text + "|";
    if (t.child)
        ini += std::to_string(t.child->first) + "|" + t.child->second + "|";
    auto method = CreateAutoSuppressionMethod(t.child ? 3 : 2);
    EXPECT_GT(method->ParseIniString(ini.c_str()), 0u) << ini;
    return method;
}

} // namespace

TEST(MatchingDifferential, TheMethodsAgreeWithTheRulesOverRandomDesktops)
{
    Generator generate(20261210);
    int fired = 0;
    for (int round = 0; round < 3000; ++round) {
        const Scene scene = generate.MakeScene();
        std::vector<Trigger> triggers;
        for (int i = 0; i < 6; ++i)
            triggers.push_back(generate.MakeTrigger());
        kzb::inspection::SetDesktop(std::make_shared<SceneDesktop>(scene));
        std::vector<std::unique_ptr<AutoSuppressionMethod>> methods;
        for (const Trigger& t : triggers)
            methods.push_back(MethodOf(t));

        for (bool shared : {false, true}) {
            std::optional<kzb::inspection::InspectionSnapshot> inspection;
            if (shared)
                inspection.emplace(); // one snapshot for every method, as in an inspection
            for (std::size_t i = 0; i < triggers.size(); ++i) {
                const std::optional<std::string> expected = Reference(scene, triggers[i]);
                SCOPED_TRACE("round " + std::to_string(round) + ", trigger " + triggers[i].text +
                             (shared ? ", shared" : ""));
                ASSERT_EQ(methods[i]->Check(), expected.has_value());
                if (expected) {
                    EXPECT_EQ(methods[i]->GetTriggerDescription(), *expected);
                    fired += shared;
                }
            }
        }
    }
    kzb::inspection::SetDesktop(nullptr);
    EXPECT_GT(fired, 1000) << "the scenes make triggers fire often enough to compare descriptions";
}

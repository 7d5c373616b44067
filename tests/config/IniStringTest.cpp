#include "../support/LogCapture.h"
#include "Config/AnnotationTypes.h"
#include "Config/BrowserHTMLMethod.h"
#include "Config/DetermineIDFromWindowTitle.h"
#include "Config/WindowTitleMethod.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Factory = std::function<std::unique_ptr<ConfigObject>()>;

template <typename Object, typename... Args>
Factory Make(Args... args)
{
    return [=] { return std::make_unique<Object>(args...); };
}

Factory Method(std::uint32_t type)
{
    return [=] { return std::unique_ptr<ConfigObject>(CreateAutoSuppressionMethod(type).release()); };
}

struct Case
{
    const char* name;
    Factory make;
    std::string text;
    unsigned consumed;    // 0: the parse fails
    std::string logged;   // the ERROR line of a failure
    std::string written;  // ToIniString after a successful parse
};

const std::string Text99(99, 't');
const std::string Text100(100, 't');

const Case Cases[] = {
    // Window title methods.
    {"type 2, four values", Method(2), "1|3|15|Checkout|rest", 16, "", "1|3|15|Checkout|"},
    {"type 1, three values, becomes type 2", Method(1), "2|1|Payment|", 12, "", "2|1|0|Payment|"},
    {"type 2 with only three values", Method(2), "1|5|payment|", 0, "Failed to Parse INI String!", ""},
    {"match pattern out of range", Method(2), "1|5|0|payment|", 0, "Failed to Parse INI String! Match Pattern = 5",
     ""},
    {"trigger out of range", Method(2), "3|1|0|payment|", 0, "Failed to Parse INI String! Window Trigger = 3", ""},
    {"text at the limit", Method(2), "1|1|0|" + Text99 + "|", 106, "", "1|1|0|" + Text99 + "|"},
    {"text over the limit", Method(2), "1|1|0|" + Text100 + "|", 0, "Failed to Parse INI String!", ""},
    {"empty text", Method(2), "1|1|0||", 0, "Failed to Parse INI String!", ""},
    {"missing closing bar", Method(2), "1|1|0|Pay", 0, "Failed to Parse INI String!", ""},
    {"number that is no number", Method(2), "x|1|0|Pay|", 0, "Failed to Parse INI String!", ""},
    {"sub window", Method(3), "1|1|0|Orders|4|Card|", 20, "", "1|1|0|Orders|4|Card|"},
    {"sub window, bad sub pattern", Method(3), "1|1|0|Orders|9|Card|", 0,
     "Failed to Parse INI String! Sub Match Pattern = 9", ""},
    {"sub window, missing sub text", Method(3), "1|1|0|Orders|4|", 0, "Failed to Parse INI String!", ""},
    // Browser pages.
    {"browser method", Method(4), "10|2|4|4|bank|1|2|Pay|", 22, "", "10|2|4|4|bank|1|2|Pay|"},
    {"browser method without criteria", Method(4), "10|0|", 0, "Failed to Parse INI String! Number of Criteria = 0",
     ""},
    {"browser method, one number", Method(4), "10|", 0, "Failed to Parse INI String!", ""},
    {"browser method, bad criterion", Method(4), "10|1|6|4|bank|", 0,
     "Failed to Parse INI String! Trigger Object = 6", ""},
    {"criterion pattern", Make<BrowserHTMLCriteria>(), "1|7|x|", 0, "Failed to Parse INI String! Match Pattern = 7",
     ""},
    // Identifier in a window title.
    {"id detection", Make<DetermineIDFromWindowTitle>(), "4|agent|agent | -|", 18, "", "4|agent|agent | -|"},
    {"id detection, three texts missing", Make<DetermineIDFromWindowTitle>(), "4|agent|", 0,
     "Failed to Parse INI String!", ""},
    {"id detection, pattern", Make<DetermineIDFromWindowTitle>(), "0|a|b|c|", 0,
     "Failed to Parse INI String! Match Pattern = 0", ""},
    // Annotation fields.
    {"free text field", Make<FieldDetails>(), "1001|Notes|1|40|", 16, "", "1001|Notes|1|40|"},
    {"button field", Make<FieldDetails>(), "95|Outcome|2|2|Yes|Sale|No|No sale|", 35, "",
     "95|Outcome|2|2|Yes|Sale|No|No sale|"},
    {"field id", Make<FieldDetails>(), "1087|Notes|1|40|", 0, "Failed to Parse INI String! Field ID = 1087", ""},
    {"caption over 20", Make<FieldDetails>(), "1001|" + std::string(21, 'c') + "|1|40|", 0,
     "Failed to Parse INI String!", ""},
    {"input type", Make<FieldDetails>(), "1001|Notes|3|40|", 0, "Failed to Parse INI String! Annotation Type = 3", ""},
    {"input type missing", Make<FieldDetails>(), "1001|Notes|", 0, "Failed to Parse INI String!", ""},
    {"max length 0", Make<FieldDetails>(), "1001|Notes|1|0|", 0, "Failed to Parse INI String! Max Length = 0", ""},
    {"no buttons", Make<FieldDetails>(), "1001|Notes|2|0|", 0, "Failed to Parse INI String! Number of Buttons = 0",
     ""},
    {"six buttons", Make<PushButton>(), "6|a|b|a|b|a|b|a|b|a|b|a|b|", 0,
     "Failed to Parse INI String! Number of Buttons = 6", ""},
    {"five buttons", Make<PushButton>(), "5|a|1|b|2|c|3|d|4|e|5|", 22, "", "2|5|a|1|b|2|c|3|d|4|e|5|"},
    {"nine-character label", Make<PushButtonData>(), "NineChars|text|", 0, "Failed to Parse INI String!", ""},
    {"eight-character label", Make<PushButtonData>(), "EightChr|text|", 14, "", "EightChr|text|"},
    {"a failing button fails the set", Make<PushButton>(), "2|a|1|b||", 0, "Failed to Parse INI String!", ""},
};

class IniString : public ::testing::TestWithParam<Case>
{
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

} // namespace

TEST_P(IniString, ParsesOrLogsWhy)
{
    const Case& c = GetParam();
    LogCapture log;
    auto object = c.make();
    EXPECT_EQ(object->ParseIniString(c.text.c_str()), c.consumed);
    const auto lines = log.Lines();
    if (c.consumed == 0) {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, 0) << "logged at ERROR";
        EXPECT_EQ(lines[0].text, c.logged);
    } else {
        EXPECT_TRUE(lines.empty());
        EXPECT_EQ(object->ToIniString(), c.written);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryClass, IniString, ::testing::ValuesIn(Cases));

TEST(IniStringRoundTrip, WrittenFormsReadBack)
{
    // A field reads its input type number itself, then the input type reads the rest.
    FieldDetails field;
    const std::string text = "1002|Outcome|2|2|Yes|Sale|No|No sale|";
    ASSERT_EQ(field.ParseIniString(text.c_str()), text.size());
    FieldDetails again;
    EXPECT_EQ(again.ParseIniString(field.ToIniString().c_str()), text.size());
    EXPECT_TRUE(SameAnnotationFields({field}, {again}));

    auto method = CreateAutoSuppressionMethod(1);
    ASSERT_GT(method->ParseIniString("1|1|Pay|"), 0u);
    EXPECT_EQ(method->GetType(), 2u);
    EXPECT_EQ(method->GetSize(), 116u);
}

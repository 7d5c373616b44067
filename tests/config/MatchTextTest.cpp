#include "Config/ConfigObject.h"

#include <gtest/gtest.h>

TEST(MatchText, PatternsIgnoreCase)
{
    struct Case
    {
        const char* found;
        std::uint32_t pattern;
        const char* wanted;
        bool matches;
    };
    const Case cases[] = {
        {"Payment Details - Shop", 4, "DETAILS", true},
        {"Payment Details - Shop", 1, "DETAILS", false},
        {"Payment Details - Shop", 1, "payment details - SHOP", true},
        {"Payment Details - Shop", 2, "payment", true},
        {"Payment Details - Shop", 3, "shop", true},
        {"Payment Details - Shop", 3, "payment", false},
        {"Pay", 2, "Payment", false},
        {"Pay", 3, "Prepay", false},
        {"", 4, "", true},
        {"anything", 4, "", true},
        {"", 1, "", true},
        {"Payment", 0, "Payment", false},
        {"Payment", 5, "Payment", false},
        // Only A-Z are folded.
        {"\xC4RGER", 1, "\xE4rger", false},
        {"[]", 1, "{}", false},
        {"Caf\xC9 Au Lait", 4, "\xC9 au", true},
        {"Order 12 - Card number", 4, "card numbers", false},
        {"aab", 4, "aba", false}, // the same pairs, in another order
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.found) + " / " + std::to_string(c.pattern) + " / " + c.wanted);
        EXPECT_EQ(MatchText(c.found, c.pattern, c.wanted), c.matches);
        EXPECT_EQ(MatchLowered(LoweredText(c.found), c.pattern, LoweredText(c.wanted)), c.matches);
    }
}

TEST(MatchText, PatternNames)
{
    EXPECT_EQ(GetMatchPatternName(1), "exact match");
    EXPECT_EQ(GetMatchPatternName(2), "starts with");
    EXPECT_EQ(GetMatchPatternName(3), "ends with");
    EXPECT_EQ(GetMatchPatternName(4), "contains");
    EXPECT_EQ(GetMatchPatternName(0), "Unknown text match pattern type.");
}

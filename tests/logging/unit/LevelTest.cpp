// Level names, their parsing and the level filter.
#include "KZBLogging.h"
#include "Level.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Level, NamesOfEveryValue)
{
    const struct { std::int32_t level; const char* name; } cases[] = {
        {-1, "WARNING"}, {0, "ERROR"}, {1, "PRINT"}, {2, "WARNING"}, {3, "MESSAGE"},
        {4, "INFO"}, {5, "TRACE"}, {6, "WARNING"}, {2147483647, "WARNING"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(LogLevelAsString(c.level), c.name) << c.level;
}

TEST(Level, ParsedFromNamesWithoutRegardToCase)
{
    const struct { const char* name; std::int32_t level; } cases[] = {
        {"ERROR", 0}, {"print", 1}, {"Warning", 2}, {"MESSAGE", 3}, {"msg", 3}, {"Msg", 3}, {"iNfO", 4},
        // TRACE is never read back, so a stored TRACE starts at the default.
        {"TRACE", 2}, {"trace", 2},
        {"", 2}, {"INFORMATION", 2}, {" INFO", 2}, {"4", 2}, {nullptr, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogLevelFromString(c.name), c.level) << (c.name ? c.name : "(null)");
}

TEST(Level, DefaultIsExportedAsWarning)
{
    EXPECT_EQ(DEFAULT_LOG_LEVEL, 2);
    EXPECT_STREQ(LogLevelAsString(DEFAULT_LOG_LEVEL), "WARNING");
}

TEST(Level, FilterPassesMoreSevereAndAlwaysTrace)
{
    const struct { std::int32_t message; std::int32_t logger; bool passes; } cases[] = {
        {0, 0, true}, {1, 0, false}, {2, 2, true}, {3, 2, false}, {4, 2, false},
        {0, 5, true}, {4, 5, true}, {5, 5, true},
        {5, 0, true}, {5, -1, true}, {0, -1, false}, {6, 5, false}, {-3, 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kzb::logging::PassesFilter(c.message, c.logger), c.passes) << c.message << " at " << c.logger;
}

} // namespace

// The log line and the syslog datagram, character by character.
#include "LogLine.h"
#include "SyslogAppender.h"
#include "support/FakeMessage.h"

#include <gtest/gtest.h>

#include <string>

using testing_support::FakeMessage;

namespace {

TEST(LogLine, MatchesTheDocumentedExample)
{
    FakeMessage message; // Dialog, line 204, thread 0xF2C, 9 June 14:03:07.25, ERROR
    EXPECT_EQ(kzb::logging::MakeLogLine(message), "Dialog(204): (TID 0F2C) 2024-Jun-09 14:03:07.250000 [ERROR] - Hello\n");
}

TEST(LogLine, EachPartInItsForm)
{
    struct Case
    {
        const char* what;
        void (*change)(FakeMessage&);
        std::string expected;
    };
    const Case cases[] = {
        {"thread id padded to four digits", [](FakeMessage& m) { m.threadId = 26; },
            "Dialog(204): (TID 001A) 2024-Jun-09 14:03:07.250000 [ERROR] - Hello\n"},
        {"thread id of five digits in full", [](FakeMessage& m) { m.threadId = 0x12345; },
            "Dialog(204): (TID 12345) 2024-Jun-09 14:03:07.250000 [ERROR] - Hello\n"},
        {"largest thread id", [](FakeMessage& m) { m.threadId = 0xFFFFFFFF; },
            "Dialog(204): (TID FFFFFFFF) 2024-Jun-09 14:03:07.250000 [ERROR] - Hello\n"},
        {"no fraction when the microseconds are zero", [](FakeMessage& m) { m.localTime = "2023-12-31T23:59:59"; },
            "Dialog(204): (TID 0F2C) 2023-Dec-31 23:59:59 [ERROR] - Hello\n"},
        {"six fraction digits", [](FakeMessage& m) { m.localTime = "2024-01-05T00:00:00.000001"; },
            "Dialog(204): (TID 0F2C) 2024-Jan-05 00:00:00.000001 [ERROR] - Hello\n"},
        {"level names", [](FakeMessage& m) { m.level = 4; },
            "Dialog(204): (TID 0F2C) 2024-Jun-09 14:03:07.250000 [INFO] - Hello\n"},
        {"unknown level as WARNING", [](FakeMessage& m) { m.level = 9; },
            "Dialog(204): (TID 0F2C) 2024-Jun-09 14:03:07.250000 [WARNING] - Hello\n"},
        {"negative line", [](FakeMessage& m) { m.line = -1; },
            "Dialog(-1): (TID 0F2C) 2024-Jun-09 14:03:07.250000 [ERROR] - Hello\n"},
        {"empty file and text", [](FakeMessage& m) { m.file.clear(); m.text.clear(); },
            "(204): (TID 0F2C) 2024-Jun-09 14:03:07.250000 [ERROR] - \n"},
        {"a time that is not ours is copied", [](FakeMessage& m) { m.localTime = "yesterday"; },
            "Dialog(204): (TID 0F2C) yesterday [ERROR] - Hello\n"},
    };
    for (const auto& c : cases) {
        FakeMessage message;
        c.change(message);
        EXPECT_EQ(kzb::logging::MakeLogLine(message), c.expected) << c.what;
    }
}

TEST(SyslogDatagram, PriorityTimeHostTagOriginText)
{
    FakeMessage message;
    message.level = 3;
    EXPECT_EQ(kzb::logging::MakeSyslogDatagram(message, "host", "KZBDKA"),
        "<134>Jun  9 14:03:07 host KZBDKA: Dialog(204): (TID 0F2C) Hello");
    message.localTime = "2024-11-25T08:09:10";
    EXPECT_EQ(kzb::logging::MakeSyslogDatagram(message, "host", "KZBDKA"),
        "<134>Nov 25 08:09:10 host KZBDKA: Dialog(204): (TID 0F2C) Hello");
}

TEST(SyslogDatagram, PriorityOfEachLevel)
{
    const struct { std::int32_t level; const char* priority; } cases[] = {
        {0, "<131>"}, {1, "<133>"}, {2, "<132>"}, {3, "<134>"}, {4, "<134>"}, {5, "<135>"},
        {9, "<132>"}, {-1, "<132>"},
    };
    for (const auto& c : cases) {
        FakeMessage message;
        message.level = c.level;
        EXPECT_EQ(kzb::logging::MakeSyslogDatagram(message, "h", "a").rfind(c.priority, 0), 0u) << c.level;
    }
}

TEST(SyslogDatagram, CutToLimitWithEllipsis)
{
    FakeMessage message;
    const std::string head = kzb::logging::MakeSyslogDatagram(message, "h", "a");
    const struct { std::size_t length; std::size_t sent; bool cut; } cases[] = {
        {1023, 1023, false}, {1024, 1024, false}, {1025, 1024, true}, {5000, 1024, true},
    };
    for (const auto& c : cases) {
        message.text = "Hello" + std::string(c.length - head.size(), 'x');
        const std::string datagram = kzb::logging::MakeSyslogDatagram(message, "h", "a");
        EXPECT_EQ(datagram.size(), c.sent) << c.length;
        if (c.cut) {
            EXPECT_EQ(datagram.substr(1021), "...");
            EXPECT_EQ(datagram.substr(0, 1021), (head + std::string(c.length - head.size(), 'x')).substr(0, 1021));
        } else {
            EXPECT_EQ(datagram.back(), 'x');
        }
    }
}

TEST(SyslogDatagram, FieldsWithoutSpacesAndShortEnough)
{
    const struct { const char* text; std::size_t max; const char* field; } cases[] = {
        {"my work station", 1024, "myworkstation"},
        {"", 1024, "-"},
        {"   ", 32, "-"},
        {"A_module_name_that_is_longer_than_32_chars", 32, "A_module_name_that_is_longer_tha"},
        {"Agent Desktop", 32, "AgentDesktop"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kzb::logging::SyslogField(c.text, c.max), c.field) << c.text;
}

} // namespace

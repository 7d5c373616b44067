// Creating, filling, copying and freeing messages through the exported functions.
#include "KZBLogging.h"
#include "support/Modules.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

using namespace testing_support;
using kzb::logging::ILogMessage;

namespace {

// A module-0 message stays with its creator: the test frees it.
struct Owned
{
    ILogMessage* message;
    ~Owned() { DeleteLogMessage(message); }
    ILogMessage* operator->() const { return message; }
};

Owned Unsent(std::int32_t level = 0, const char* file = "Test.cpp")
{
    return Owned{CreateLogMessage(level, file, 42, 7, nullptr)};
}

TEST(LogMessage, TrailingLineFeedsRemovedButNeverTheFirstCharacter)
{
    const struct { const char* format; const char* text; } cases[] = {
        {"done\n", "done"},
        {"done\n\n", "done"},
        {"done\r\n", "done\r"},
        {"\n", "\n"},
        {"\n\n", "\n"},
        {"two\nlines\n", "two\nlines"},
        {"no feed", "no feed"},
    };
    for (const auto& c : cases) {
        Owned message = Unsent();
        message->Printf("%s", c.format);
        EXPECT_STREQ(message->Text(), c.text) << c.format;
    }
}

TEST(LogMessage, ModuleZeroMessageCollectsTextOfSeveralCalls)
{
    Owned message = Unsent();
    message->Printf("Recorder %u - ", 2u);
    message->Printf("%s", "");
    message->Printf("connected %s", "again");
    EXPECT_STREQ(message->Text(), "Recorder 2 - connected again");
}

TEST(LogMessage, FormatsLongTextsAndC99Conversions)
{
    Owned message = Unsent();
    const std::string longText(3000, 'x');
    message->Printf("%zu %lld %s", sizeof(std::uint64_t), -5LL, longText.c_str());
    EXPECT_EQ(std::string(message->Text()), "8 -5 " + longText);
}

TEST(LogMessage, KeepsOnlyTheLastPathComponent)
{
    const struct { const char* file; const char* name; } cases[] = {
        {"agent/comms/TCPComms.cpp", "TCPComms.cpp"},
        {"C:\\build\\agent\\MainFrm.cpp", "MainFrm.cpp"},
        {"..\\mixed/sep\\Dialog.cpp", "Dialog.cpp"},
        {"Plain.cpp", "Plain.cpp"},
        {"folder/", ""},
        {nullptr, ""},
    };
    for (const auto& c : cases) {
        Owned message = Unsent(0, c.file);
        EXPECT_STREQ(message->File(), c.name) << (c.file ? c.file : "(null)");
    }
}

TEST(LogMessage, CarriesWhatItWasCreatedWith)
{
    Owned message{CreateLogMessage(3, "x.cpp", -17, 0xABCDEF01u, nullptr)};
    EXPECT_EQ(message->Level(), 3);
    EXPECT_EQ(message->Line(), -17);
    EXPECT_EQ(message->ThreadId(), 0xABCDEF01u);
    EXPECT_EQ(message->Module(), nullptr);
    EXPECT_STREQ(message->Text(), "");
}

// Seconds since 1970 of a UTC calendar time (days from civil, proleptic Gregorian).
long long SecondsOf(int y, unsigned m, unsigned d, int hh, int mm, int ss)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return ((era * 146097 + doe - 719468) * 24 + hh) * 3600 + mm * 60 + ss;
}

TEST(LogMessage, TimeStringsAreOneReadingInLocalTimeAndUtc)
{
    const auto before = std::chrono::system_clock::now();
    Owned message = Unsent();
    const auto after = std::chrono::system_clock::now();

    const std::regex iso(R"((\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(\.\d{6})?)");
    std::cmatch local;
    std::cmatch utc;
    ASSERT_TRUE(std::regex_match(message->LocalTime(), local, iso)) << message->LocalTime();
    const std::string utcText = message->UtcTime();
    ASSERT_EQ(utcText.back(), 'Z');
    const std::string utcWithoutZ = utcText.substr(0, utcText.size() - 1);
    ASSERT_TRUE(std::regex_match(utcWithoutZ.c_str(), utc, iso)) << utcText;
    // One reading: both have the same fraction (or both none, and never ".000000").
    EXPECT_EQ(local[7].str(), utc[7].str());
    EXPECT_NE(utc[7].str(), ".000000");

    auto field = [&](int i) { return std::stoi(utc[i].str()); };
    const long long seconds = SecondsOf(field(1), static_cast<unsigned>(field(2)), static_cast<unsigned>(field(3)),
        field(4), field(5), field(6));
    using std::chrono::duration_cast;
    EXPECT_GE(seconds, duration_cast<std::chrono::seconds>(before.time_since_epoch()).count());
    EXPECT_LE(seconds, duration_cast<std::chrono::seconds>(after.time_since_epoch()).count());
}

TEST(LogMessage, CopyHasEveryFieldAndLivesOnItsOwn)
{
    Owned original = Unsent(4, "dir/Source.cpp");
    original->Printf("text %d", 1);
    Owned copy{CopyLogMessage(original.message)};
    ASSERT_NE(copy.message, original.message);
    EXPECT_EQ(copy->Level(), 4);
    EXPECT_EQ(copy->Line(), 42);
    EXPECT_EQ(copy->ThreadId(), 7u);
    EXPECT_EQ(copy->Module(), nullptr);
    EXPECT_STREQ(copy->File(), "Source.cpp");
    EXPECT_STREQ(copy->LocalTime(), original->LocalTime());
    EXPECT_STREQ(copy->UtcTime(), original->UtcTime());
    EXPECT_STREQ(copy->Text(), "text 1");
    copy->Printf(" more");
    EXPECT_STREQ(original->Text(), "text 1");
    EXPECT_EQ(CopyLogMessage(nullptr), nullptr);
}

TEST(LogMessage, DeleteIgnoresNullAndForeignMessages)
{
    class Foreign : public ILogMessage
    {
    public:
        void Printf(const char*, ...) override {}
        std::int32_t Level() const override { return 0; }
        kzb::logging::ModuleHandle Module() const override { return nullptr; }
        const char* LocalTime() const override { return ""; }
        const char* UtcTime() const override { return ""; }
        const char* File() const override { return ""; }
        std::int32_t Line() const override { return 0; }
        std::uint32_t ThreadId() const override { return 0; }
        const char* Text() const override { return ""; }
    } foreign; // on the stack: freeing it would be caught by the sanitizer
    DeleteLogMessage(nullptr);
    DeleteLogMessage(&foreign);
}

// Messages of a module go through its logger; a rejected one is freed by Printf.
class ModuleMessage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetFixedRoot();
        logFile = ScratchFolder() / "module.txt";
    }

    std::filesystem::path logFile;
};

TEST_F(ModuleMessage, SuppressedAtCreationTakesNoTimeAndIsNeverWritten)
{
    LoggerScope scope(FakeModule(1));
    ILogMessage* filtered = CreateLogMessage(4, "Filtered.cpp", 1, 1, scope.Module());
    EXPECT_STREQ(filtered->LocalTime(), "");
    EXPECT_STREQ(filtered->File(), "");
    filtered->Printf("filtered at %s", "creation");

    CreateLogMessage(2, "Kept.cpp", 2, 1, scope.Module())->Printf("kept");
    CreateLogMessage(5, "Trace.cpp", 3, 1, scope.Module())->Printf("trace passes the filter");
    CreateLogMessage(0, "Empty.cpp", 4, 1, scope.Module())->Printf("%s", "");
    ::Setup(logFile.string().c_str(), scope.Module());
    ::Shutdown(scope.Module());

    const auto lines = ReadLines(logFile);
    EXPECT_FALSE(Contains(lines, "filtered at creation"));
    EXPECT_TRUE(Contains(lines, "Kept.cpp(2): (TID 0001) "));
    EXPECT_TRUE(Contains(lines, "] - kept"));
    EXPECT_FALSE(Contains(lines, "Empty.cpp")) << "an empty result is dropped";
    // TRACE passes every level but goes only to the debug copy.
    EXPECT_FALSE(Contains(lines, "trace passes"));
}

TEST_F(ModuleMessage, LevelChangesApplyToTheNextMessage)
{
    LoggerScope scope(FakeModule(2));
    EXPECT_EQ(LogLevel(scope.Module()), 2);
    SetLogLevel(4, scope.Module());
    EXPECT_EQ(LogLevel(scope.Module()), 4);
    CreateLogMessage(4, "Info.cpp", 1, 1, scope.Module())->Printf("now passes");
    GetLogger(scope.Module())->SetLogLevel("error");
    EXPECT_EQ(GetLogger(scope.Module())->LogLevel(), 0);
    CreateLogMessage(1, "Print.cpp", 1, 1, scope.Module())->Printf("now filtered");
    ::Setup(logFile.string().c_str(), scope.Module());
    ::Shutdown(scope.Module());

    const auto lines = ReadLines(logFile);
    EXPECT_TRUE(Contains(lines, "[INFO] - now passes"));
    EXPECT_FALSE(Contains(lines, "now filtered"));
}

TEST_F(ModuleMessage, ErrorCodeWithTheSystemText)
{
    LoggerScope scope(FakeModule(3));
    ::Setup(logFile.string().c_str(), scope.Module());
    ::Shutdown(scope.Module());
    LogErrorCode("dir/Comms.cpp", 77, 0x1A, 2, scope.Module());

    const std::string text = ReadText(logFile);
    EXPECT_NE(text.find("Comms.cpp(77): (TID 001A) "), std::string::npos) << text;
#if defined(_WIN32)
    // The system text ends in CR LF; only the line feed is removed, so the line ends in
    // the text's CR and then the file's CR LF.
    const std::size_t start = text.find("[ERROR] - Error Code:(2)");
    ASSERT_NE(start, std::string::npos) << text;
    const std::string line = text.substr(start, text.find('\n', start) + 1 - start);
    EXPECT_GT(line.size(), std::string("[ERROR] - Error Code:(2)\r\r\n").size()) << "the system text is there";
    EXPECT_EQ(line.substr(line.size() - 4), ".\r\r\n") << line;
#else
    EXPECT_NE(text.find("[ERROR] - Error Code:(2)No such file or directory\n"), std::string::npos) << text;
#endif
}

#if defined(_WIN32)
TEST_F(ModuleMessage, ErrorCodeWithoutSystemTextStillLogs)
{
    LoggerScope scope(FakeModule(4));
    ::Setup(logFile.string().c_str(), scope.Module());
    ::Shutdown(scope.Module());
    LogErrorCode("Comms.cpp", 1, 1, 0x2000FFFFu, scope.Module());
    EXPECT_NE(ReadText(logFile).find("[ERROR] - Error Code:(536936447)\r\n"), std::string::npos) << ReadText(logFile);
}
#endif

} // namespace

#include "LogCapture.h"
#include "MachineSettings.h"
#include "ui/MessagePump.h"
#include "ui/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Values of the program key under the current user, removed again after each test.
class Registry : public testing::Test
{
protected:
    void SetUp() override
    {
        UseTestSettingsStore();
        ASSERT_TRUE(writer.OpenProgramKeyForWriting());
    }

    void TearDown() override
    {
        CRegistry cleaner;
        if (cleaner.CreateKey(Root::CurrentUser, ProgramRegistryKey))
            for (const char* name : {"TestLevel", "TestText", "TestNumberAsText"})
                cleaner.DeleteValue(name);
    }

    using Root = CRegistry::Root;
    CRegistry writer;
};

TEST_F(Registry, NumbersAreReadOnlyFromNumberValues)
{
    ASSERT_TRUE(writer.SetNumber("TestLevel", 5));
    ASSERT_TRUE(writer.SetText("TestNumberAsText", "5"));
    writer.Close();

    CRegistry reader;
    EXPECT_EQ(reader.ReadNumber(Root::CurrentUser, "TestLevel", 3), 5u);
    EXPECT_EQ(reader.ReadNumber(Root::CurrentUser, "TestNumberAsText", 3), 3u) << "text is not a number";
    EXPECT_EQ(reader.ReadNumber(Root::CurrentUser, "TestMissing", 7), 7u);
    EXPECT_EQ(reader.ReadNumber(Root::LocalMachine, "TestLevel", 2), 2u) << "another hive";
}

TEST_F(Registry, TextMustFitItsBufferWithTheTerminator)
{
    ASSERT_TRUE(writer.SetText("TestText", "abcd"));
    writer.Close();

    CRegistry reader;
    std::string text;
    EXPECT_TRUE(reader.ReadText(Root::CurrentUser, "TestText", text, 5));
    EXPECT_EQ(text, "abcd");
    text.clear();
    EXPECT_FALSE(reader.ReadText(Root::CurrentUser, "TestText", text, 4)) << "one character too small";
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(reader.ReadText(Root::CurrentUser, "TestMissing", text, 100));
}

TEST_F(Registry, NumbersAreNotText)
{
    ASSERT_TRUE(writer.SetNumber("TestLevel", 4));
    writer.Close();
    CRegistry reader;
    std::string text;
    EXPECT_FALSE(reader.ReadText(Root::CurrentUser, "TestLevel", text, 100));
}

TEST_F(Registry, TheSameKeyInOtherLetterCaseStaysOpen)
{
    ASSERT_TRUE(writer.SetText("TestText", "x"));
    CRegistry reader;
    ASSERT_TRUE(reader.OpenForReading(Root::CurrentUser, "SOFTWARE\\Corvanta\\KZBDKA"));
    EXPECT_TRUE(reader.OpenForReading(Root::CurrentUser, "software\\corvanta\\kzbdka"));
    EXPECT_EQ(reader.GetLastError(), 0);
    EXPECT_FALSE(reader.OpenForReading(Root::CurrentUser, "SOFTWARE\\Corvanta\\NoSuchKey"));
    EXPECT_NE(reader.GetLastError(), 0);
}

TEST_F(Registry, MachineValuesAreApartFromTheUsersOnes)
{
    SetMachineText("TestText", "machine");
    ASSERT_TRUE(writer.SetText("TestText", "user"));
    writer.Close();
    CRegistry reader;
    std::string text;
    ASSERT_TRUE(reader.ReadText(Root::LocalMachine, "TestText", text, 100));
    EXPECT_EQ(text, "machine");
    ASSERT_TRUE(reader.ReadText(Root::CurrentUser, "TestText", text, 100));
    EXPECT_EQ(text, "user");
    ClearMachineValue("TestText");
    EXPECT_FALSE(reader.ReadText(Root::LocalMachine, "TestText", text, 100));
}

#ifndef _WIN32
// The native store's file, damaged where a hive or the program key belongs: reading finds
// nothing there, writing replaces the damaged part with a line instead of ending the program
// (found by the settings file fuzzer).
TEST(RegistryFile, ADamagedHiveOrKeyIsReplacedOnWriting)
{
    UseTestSettingsStore();
    const char* file = std::getenv("KZB_REGISTRY_FILE");
    ASSERT_NE(file, nullptr);
    const struct
    {
        const char* content;
        bool replacedWithLine;
    } cases[] = {
        {R"({"HKEY_CURRENT_USER": 5})", true},
        {R"({"HKEY_CURRENT_USER": ["SOFTWARE\\Corvanta\\KZBDKA"]})", true},
        {R"({"HKEY_CURRENT_USER": {"SOFTWARE\\Corvanta\\KZBDKA": "x"}})", true},
        {R"({"HKEY_CURRENT_USER": {"software\\corvanta\\kzbdka": null}})", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        std::ofstream(file, std::ios::trunc) << c.content;
        LogCapture log;
        CRegistry registry;
        EXPECT_EQ(registry.ReadNumber(CRegistry::Root::CurrentUser, "WindowLeft", 7), 7u);
        ASSERT_TRUE(registry.OpenProgramKeyForWriting());
        EXPECT_TRUE(registry.SetNumber("WindowLeft", 12));
        EXPECT_EQ(registry.ReadNumber(CRegistry::Root::CurrentUser, "WindowLeft", 7), 12u);
        EXPECT_EQ(log.Count("is not a key; replaced by an empty one"), c.replacedWithLine ? 1u : 0u);
    }
    std::remove(file);
}
#endif

TEST(MessagePump, AQuitMessageStopsThePumpAndStaysForTheMainLoop)
{
#ifdef _WIN32
    ::PostQuitMessage(3);
    EXPECT_FALSE(ProcessWaitingMessages());
    MSG message;
    ASSERT_TRUE(::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 3u);
#else
    EXPECT_TRUE(ProcessWaitingMessages());
#endif
}

} // namespace

#include "LogCapture.h"
#include "MachineSettings.h"
#include "Log.h"
#include "comms/Net.h"
#include "handlers/Identity.h"
#include "ui/MainFrameCore.h"
#include "ui/Registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <sys/utsname.h>
#include <unistd.h>
#endif

namespace {

namespace registry = kzb::registry;
using registry::Root;
using testing::ElementsAre;
using Lines = std::vector<std::string>;

constexpr const char* CitrixKey = "SOFTWARE\\Citrix\\ICA Client";
const std::string NoRegistryValue = "WARNING Cannot get Citrix terminal name from registry: Failed to get value from "
                                    "'HKCU\\SOFTWARE\\Citrix\\ICA Client\\ClientName' and "
                                    "'HKLM\\SOFTWARE\\Citrix\\ICA Client\\ClientName'";
const std::string GivingUp = "WARNING Giving up attempting to determine Citrix terminal name";

// ---- the process environment, where GetEnvironmentVariableA and getenv look ----

std::optional<std::string> Variable(const std::string& name)
{
#ifdef _WIN32
    const DWORD size = ::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::string value(size, '\0');
    value.resize(::GetEnvironmentVariableA(name.c_str(), value.data(), size));
    return value;
#else
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
#endif
}

// Sets name to value, or removes it for nullopt.
void SetVariable(const std::string& name, const std::optional<std::string>& value)
{
#ifdef _WIN32
    ASSERT_TRUE(::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr) || !value);
#else
    ASSERT_EQ(value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str()), 0);
#endif
}

// The host name as the system tells it apart from gethostname.
std::string HostNameOfTheSystem()
{
#ifdef _WIN32
    char name[256] = {};
    DWORD size = sizeof name;
    return ::GetComputerNameExA(ComputerNameDnsHostname, name, &size) ? name : "";
#else
    utsname system{};
    return ::uname(&system) == 0 ? system.nodename : "";
#endif
}

int ProcessId()
{
#ifdef _WIN32
    return static_cast<int>(::GetCurrentProcessId());
#else
    return static_cast<int>(::getpid());
#endif
}

// ---- registry values with their type ----

struct Value
{
    std::uint32_t type;
    std::vector<std::uint8_t> data;
};

Value Text(const std::string& text, std::uint32_t type = registry::TypeString)
{
    Value value{type, {text.begin(), text.end()}};
    value.data.push_back(0);
    return value;
}

Value MultiText(const std::vector<std::string>& texts)
{
    Value value{registry::TypeMultiString, {}};
    for (const std::string& text : texts) {
        value.data.insert(value.data.end(), text.begin(), text.end());
        value.data.push_back(0);
    }
    value.data.push_back(0);
    return value;
}

Value Number(std::uint32_t number)
{
    return {registry::TypeNumber,
            {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
             static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
}

void WriteValue(Root root, const std::string& key, const std::string& name, const Value& value)
{
    registry::KeyHandle handle = 0;
    ASSERT_EQ(registry::CreateKey(root, key, registry::Access::All, handle), registry::Success);
    EXPECT_EQ(registry::SetValue(handle, name, value.type, value.data), registry::Success);
    registry::CloseKey(handle);
}

void RemoveValue(Root root, const std::string& key, const std::string& name)
{
    registry::KeyHandle handle = 0;
    if (registry::OpenKey(root, key, registry::Access::All, handle) != registry::Success)
        return;
    registry::DeleteValue(handle, name);
    registry::CloseKey(handle);
}

const char* LevelName(int level)
{
    switch (level) {
    case kzb::log::Error: return "ERROR";
    case kzb::log::Warning: return "WARNING";
    case kzb::log::Info: return "INFO";
    default: return "OTHER";
    }
}

// Each test starts without any Citrix source and with SYSTEMDRIVE naming an empty folder of
// its own; registry values and variables are put back afterwards.
class Identity : public testing::Test
{
protected:
    void SetUp() override
    {
        UseTestSettingsStore();
        ASSERT_EQ(kzb::net::StartUp(), 0);
        ClearValues();
        savedDrive = Variable("SYSTEMDRIVE");
        savedClientName = Variable("CLIENTNAME");
        folder = std::filesystem::temp_directory_path() / ("kzb-identity-" + std::to_string(ProcessId()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        SetVariable("SYSTEMDRIVE", folder.string());
        SetVariable("CLIENTNAME", std::nullopt);
        log.Clear();
    }

    void TearDown() override
    {
        ClearValues();
        SetVariable("SYSTEMDRIVE", savedDrive);
        SetVariable("CLIENTNAME", savedClientName);
        std::error_code error;
        std::filesystem::remove_all(folder, error);
        kzb::net::CleanUp();
    }

    static void ClearValues()
    {
        RemoveValue(Root::LocalMachine, ProgramRegistryKey, "TerminalNaming");
        RemoveValue(Root::CurrentUser, ProgramRegistryKey, "TerminalNaming");
        RemoveValue(Root::CurrentUser, CitrixKey, "ClientName");
        RemoveValue(Root::LocalMachine, CitrixKey, "ClientName");
    }

    void WriteIni(const std::string& bytes) const
    {
        std::ofstream(folder / "WFCName.ini", std::ios::binary) << bytes;
    }

    // The path the agent builds from SYSTEMDRIVE.
    std::string IniPath() const
    {
#ifdef _WIN32
        return folder.string() + "\\WFCName.ini";
#else
        return folder.string() + "/WFCName.ini";
#endif
    }

    // Every line logged, as "LEVEL text".
    Lines Logged() const
    {
        Lines lines;
        for (const LogCapture::Line& line : log.Lines())
            lines.push_back(std::string(LevelName(line.level)) + " " + line.text);
        return lines;
    }

    LogCapture log;
    std::filesystem::path folder;
    std::optional<std::string> savedDrive;
    std::optional<std::string> savedClientName;
};

// The text of ERROR_ENVVAR_NOT_FOUND as this build gives it (checked on its own below).
std::string NotFoundText()
{
    return kzb::windows::error(203).what();
}

// ---- kzb::windows::error ----

TEST(WindowsError, TheSystemTextThenTheCodeInHex)
{
    static_assert(std::is_base_of_v<std::runtime_error, kzb::windows::error>);
    // The first text is Windows' (and the native build's); Wine words some messages its own way.
    const struct
    {
        std::uint32_t code;
        std::vector<std::string> texts;
    } cases[] = {
        {203, {"The system could not find the environment option that was entered. (0xCB)",
               "Environment variable not found. (0xCB)"}},
        {5, {"Access is denied. (0x5)", "Access denied. (0x5)"}},
        {234, {"More data is available. (0xEA)", "More data available. (0xEA)"}},
        {0xDEAD, {"<error message not found>"}},
        {0x20000001, {"<error message not found>"}},
    };
    for (const auto& c : cases) {
        const kzb::windows::error error(c.code);
        EXPECT_EQ(error.code(), c.code);
#ifdef _WIN32
        EXPECT_THAT(error.what(), testing::AnyOfArray(c.texts)) << c.code;
#else
        EXPECT_EQ(error.what(), c.texts.front()) << c.code;
#endif
    }
}

// ---- GetEnvironmentVariableValue ----

TEST_F(Identity, EnvironmentValuesComeBackWhole)
{
    const std::string name = "KZB_IDENTITY_TEST";
    for (const std::string& value : {std::string("abc"), std::string(), std::string(5000, 'v')}) {
        SetVariable(name, value);
        EXPECT_EQ(GetEnvironmentVariableValue(name), value) << value.size() << " characters";
    }
    SetVariable(name, std::nullopt);
}

TEST_F(Identity, AnUnsetVariableIsAWindowsError)
{
    SetVariable("KZB_IDENTITY_TEST", std::nullopt);
    try {
        GetEnvironmentVariableValue("KZB_IDENTITY_TEST");
        FAIL() << "no exception";
    } catch (const kzb::windows::error& error) {
        EXPECT_EQ(error.code(), 203u);
        EXPECT_THAT(error.what(), testing::EndsWith(". (0xCB)"));
    }
}

// ---- DetermineHostName ----

// Terminal naming is "TerminalNaming" of the local machine as the program reads it at start.
TEST_F(Identity, WithoutTerminalNamingTheHostNameIsTheComputers)
{
    const std::string hostName = HostNameOfTheSystem();
    ASSERT_FALSE(hostName.empty());
    // Every Citrix source would give a name, were it asked.
    WriteValue(Root::CurrentUser, CitrixKey, "ClientName", Text("SEAT-USER"));
    WriteIni("SEAT-INI\n");
    SetVariable("CLIENTNAME", "SEAT-ENV");

    const struct
    {
        const char* name;
        Root root;
        std::optional<Value> terminalNaming;
    } cases[] = {
        {"absent", Root::LocalMachine, std::nullopt},
        {"0", Root::LocalMachine, Number(0)},
        {"2", Root::LocalMachine, Number(2)},
        {"1 as text", Root::LocalMachine, Text("1")},
        {"1 for the current user only", Root::CurrentUser, Number(1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveValue(c.root, ProgramRegistryKey, "TerminalNaming");
        if (c.terminalNaming)
            WriteValue(c.root, ProgramRegistryKey, "TerminalNaming", *c.terminalNaming);
        log.Clear();
        const RecorderSettings settings = ReadRecorderSettings({"recorder"});
        EXPECT_FALSE(settings.terminalNaming);
        EXPECT_EQ(DetermineHostName(settings.terminalNaming), hostName);
        EXPECT_THAT(Logged(), ElementsAre());
        RemoveValue(c.root, ProgramRegistryKey, "TerminalNaming");
    }
}

TEST_F(Identity, WithTerminalNamingTheCitrixNameIsTheHostName)
{
    WriteValue(Root::LocalMachine, ProgramRegistryKey, "TerminalNaming", Number(1));
    WriteValue(Root::CurrentUser, CitrixKey, "ClientName", Text("SEAT-USER"));
    const RecorderSettings settings = ReadRecorderSettings({"recorder"});
    ASSERT_TRUE(settings.terminalNaming);
    EXPECT_EQ(DetermineHostName(settings.terminalNaming), "SEAT-USER");
    EXPECT_THAT(Logged(), ElementsAre("INFO Terminal name: SEAT-USER extracted from registry"));
}

TEST_F(Identity, WithTerminalNamingButNoCitrixNameTheComputersNameIsUsed)
{
    EXPECT_EQ(DetermineHostName(true), HostNameOfTheSystem());
    EXPECT_THAT(Logged(),
                ElementsAre(NoRegistryValue, "INFO INI file path: " + IniPath(),
                            "WARNING Cannot get Citrix terminal name from INI file: '" + IniPath() + "' does not exist",
                            "WARNING Cannot get Citrix terminal name from environment variable: " + NotFoundText(),
                            GivingUp));
}

// ---- GetCitrixTerminalName ----

TEST_F(Identity, CitrixSourcesInTurn)
{
    const std::string iniPath = "INFO INI file path: " + IniPath();
    const std::string noIni = "WARNING Cannot get Citrix terminal name from INI file: '" + IniPath() + "' does not exist";
    const std::string noClientName = "WARNING Cannot get Citrix terminal name from environment variable: " + NotFoundText();
    const struct
    {
        const char* name;
        std::optional<Value> user;    // ClientName under the current user
        std::optional<Value> machine; // ClientName under the local machine
        std::optional<std::string> ini;
        std::optional<std::string> clientName;
        std::string expected;
        Lines lines;
    } cases[] = {
        {"the user's value first", Text("SEAT-USER"), Text("SEAT-MACHINE"), "SEAT-INI\n", "SEAT-ENV", "SEAT-USER",
         {"INFO Terminal name: SEAT-USER extracted from registry"}},
        {"the machine's value when the user has none", std::nullopt, Text("SEAT-MACHINE"), std::nullopt, std::nullopt,
         "SEAT-MACHINE", {"INFO Terminal name: SEAT-MACHINE extracted from registry"}},
        {"expandable text stays unexpanded", Text("%SEAT%", registry::TypeExpandString), std::nullopt, std::nullopt,
         std::nullopt, "%SEAT%", {"INFO Terminal name: %SEAT% extracted from registry"}},
        {"the first of several texts", MultiText({"SEAT-A", "SEAT-B"}), std::nullopt, std::nullopt, std::nullopt,
         "SEAT-A", {"INFO Terminal name: SEAT-A extracted from registry"}},
        {"a user number is no name", Number(7), Text("SEAT-MACHINE"), std::nullopt, std::nullopt, "SEAT-MACHINE",
         {"INFO Terminal name: SEAT-MACHINE extracted from registry"}},
        {"255 characters fit the buffer", Text(std::string(255, 'u')), Text("SEAT-MACHINE"), std::nullopt,
         std::nullopt, std::string(255, 'u'),
         {"INFO Terminal name: " + std::string(255, 'u') + " extracted from registry"}},
        {"256 characters do not", Text(std::string(256, 'u')), Text("SEAT-MACHINE"), std::nullopt, std::nullopt,
         "SEAT-MACHINE", {"INFO Terminal name: SEAT-MACHINE extracted from registry"}},
        {"an empty user value passes over the machine's", Text(""), Text("SEAT-MACHINE"), "SEAT-INI\n", std::nullopt,
         "SEAT-INI",
         {"INFO Terminal name:  extracted from registry", iniPath, "INFO Terminal name: SEAT-INI extracted from INI file"}},
        {"the INI file's first line, blanks kept", std::nullopt, std::nullopt, "SEAT-INI \r\nSECOND\r\n", "SEAT-ENV",
         "SEAT-INI ", {NoRegistryValue, iniPath, "INFO Terminal name: SEAT-INI  extracted from INI file"}},
        {"at most 255 characters of it", std::nullopt, std::nullopt, std::string(300, 'i') + "\n", std::nullopt,
         std::string(255, 'i'),
         {NoRegistryValue, iniPath, "INFO Terminal name: " + std::string(255, 'i') + " extracted from INI file"}},
        {"an empty INI file passes to CLIENTNAME", std::nullopt, std::nullopt, "", "SEAT-ENV", "SEAT-ENV",
         {NoRegistryValue, iniPath, "INFO Terminal name:  extracted from INI file",
          "INFO Terminal name: SEAT-ENV extracted from CLIENTNAME environment variable"}},
        {"CLIENTNAME of 256 characters", std::nullopt, std::nullopt, std::nullopt, std::string(256, 'c'),
         std::string(256, 'c'),
         {NoRegistryValue, iniPath, noIni,
          "INFO Terminal name: " + std::string(256, 'c') + " extracted from CLIENTNAME environment variable"}},
        {"CLIENTNAME of 257 characters", std::nullopt, std::nullopt, std::nullopt, std::string(257, 'c'), "",
         {NoRegistryValue, iniPath, noIni,
          "WARNING Cannot get Citrix terminal name from environment variable: CLIENTNAME environment variable is too "
          "long",
          GivingUp}},
        {"empty CLIENTNAME", std::nullopt, std::nullopt, std::nullopt, "", "",
         {NoRegistryValue, iniPath, noIni,
          "WARNING Cannot get Citrix terminal name from environment variable: CLIENTNAME environment variable is empty",
          GivingUp}},
        {"no source at all", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "",
         {NoRegistryValue, iniPath, noIni, noClientName, GivingUp}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearValues();
        if (c.user)
            WriteValue(Root::CurrentUser, CitrixKey, "ClientName", *c.user);
        if (c.machine)
            WriteValue(Root::LocalMachine, CitrixKey, "ClientName", *c.machine);
        std::filesystem::remove(folder / "WFCName.ini");
        if (c.ini)
            WriteIni(*c.ini);
        SetVariable("CLIENTNAME", c.clientName);
        log.Clear();

        EXPECT_EQ(GetCitrixTerminalName(), c.expected);
        EXPECT_EQ(Logged(), c.lines);
    }
}

TEST_F(Identity, WithoutAUsableSystemDriveTheIniFileIsSkipped)
{
    SetVariable("CLIENTNAME", "SEAT-ENV");
    const struct
    {
        std::optional<std::string> systemDrive;
        std::string reason;
    } cases[] = {
        {std::nullopt, NotFoundText()},
        {"", "SYSTEMDRIVE environment variable is empty"},
    };
    for (const auto& c : cases) {
        SetVariable("SYSTEMDRIVE", c.systemDrive);
        log.Clear();
        EXPECT_EQ(GetCitrixTerminalName(), "SEAT-ENV");
        EXPECT_THAT(Logged(), ElementsAre(NoRegistryValue, "WARNING Cannot get Citrix terminal name from INI file: " + c.reason,
                                          "INFO Terminal name: SEAT-ENV extracted from CLIENTNAME environment variable"));
    }
}

// ---- DetermineUserName ----

TEST_F(Identity, TheUserNameIsTheLoginName)
{
    const std::string name = DetermineUserName();
    EXPECT_FALSE(name.empty());
    EXPECT_THAT(Logged(), ElementsAre());
#ifdef _WIN32
    // Windows and Wine keep the login name in USERNAME too.
    if (const auto userName = Variable("USERNAME")) {
        EXPECT_EQ(name, *userName);
    }
#endif
}

} // namespace

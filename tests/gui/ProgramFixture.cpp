#include "ProgramFixture.h"

#include <fstream>
#include <sstream>

using nlohmann::json;

namespace {

// Every test has recorders of its own: 127.0.0.20, .21, ... for the whole run.
int g_nextHost = 20;

const char* const UserValues[] = {"ShowWindow", "AlwaysOnTop", "WindowTop", "WindowLeft", "LogLevel",
                                  "LogPath", "AutoSuppressionMessageDisplayEnabled"};
const char* const MachineValues[] = {"RecorderAddress", "UpdateMode", "LogPath", "TerminalNaming",
                                     "ClientCertificatePath", "ClientCertificatePassword"};

void DeleteValues(CRegistry::Root root, const char* const* names, std::size_t count)
{
    CRegistry registry;
    if (!registry.CreateKey(root, ProgramRegistryKey))
        return;
    for (std::size_t i = 0; i < count; ++i)
        registry.DeleteValue(names[i]);
}

} // namespace

void ProgramTest::SetUp()
{
    if (!SimControl::Available())
        GTEST_SKIP() << "needs the recorder simulator (run through run_with_simulator.py)";
    sim = std::make_unique<SimControl>();
    DeleteValues(CRegistry::Root::CurrentUser, UserValues, std::size(UserValues));
    DeleteValues(CRegistry::Root::LocalMachine, MachineValues, std::size(MachineValues));

    ::CreateDirectoryA("C:\\kzb-gui", nullptr);
    m_logFolder = std::string("C:\\kzb-gui\\") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::DeleteFileA((m_logFolder + "\\KZBDKA.txt").c_str());
    CRegistry registry;
    registry.OpenProgramKeyForWriting();
    registry.SetText("LogPath", m_logFolder);
}

void ProgramTest::TearDown()
{
    if (program.Running()) {
        ExitProgram();
        program.Kill();
    }
}

json ProgramTest::Scenario(unsigned tasks, json features)
{
    return {{"tasks", tasks}, {"features", std::move(features)}, {"timeline", json::array()}};
}

json ProgramTest::HostNameID(unsigned idType)
{
    return {{"id_type", idType}, {"methods", json::array()}};
}

std::string ProgramTest::UnusedAddress()
{
    return "127.0.0." + std::to_string(g_nextHost++);
}

std::string ProgramTest::AddRecorder(const json& scenario)
{
    const std::string address = UnusedAddress();
    const SimControl::Recorder recorder = sim->AddRecorder({{"host", address}, {"port", 6471}, {"scenario", scenario}});
    m_recorders.emplace_back(address, recorder.number);
    return address;
}

int ProgramTest::RecorderAt(const std::string& address) const
{
    for (const auto& [each, number] : m_recorders) {
        if (each == address)
            return number;
    }
    return 0;
}

void ProgramTest::Do(const std::string& address, json command)
{
    sim->Do(RecorderAt(address), std::move(command));
}

json ProgramTest::Received(const std::string& address, const std::string& name, int since)
{
    return sim->WaitFor(RecorderAt(address), "received", name, since, 30);
}

void ProgramTest::SetMachineText(const std::string& name, const std::string& value)
{
    CRegistry registry;
    ASSERT_TRUE(registry.CreateKey(CRegistry::Root::LocalMachine, ProgramRegistryKey));
    registry.SetText(name, value);
}

void ProgramTest::SetUserNumber(const std::string& name, std::uint32_t value)
{
    CRegistry registry;
    ASSERT_TRUE(registry.OpenProgramKeyForWriting());
    registry.SetNumber(name, value);
}

std::uint32_t ProgramTest::UserNumber(const std::string& name, std::uint32_t fallback)
{
    CRegistry registry;
    return registry.ReadNumber(CRegistry::Root::CurrentUser, name, fallback);
}

bool ProgramTest::WaitForUserNumber(const std::string& name, std::uint32_t value)
{
    return gui::WaitUntil([&] { return UserNumber(name) == value; });
}

bool ProgramTest::StartProgram(const std::vector<std::pair<std::string, std::string>>& environment)
{
    return program.Start(environment) && gui::WaitUntil([&] { return program.Frame() != nullptr || !program.Running(); }) &&
           program.Frame() != nullptr;
}

std::optional<DWORD> ProgramTest::ExitProgram()
{
    if (HWND frame = program.Frame())
        ::PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
    return program.WaitForExit();
}

HWND ProgramTest::Control(int dialogControlId, int controlId) const
{
    HWND dialog = Dialog(dialogControlId);
    return dialog ? ::GetDlgItem(dialog, controlId) : nullptr;
}

std::string ProgramTest::LogText() const
{
    std::ifstream file(m_logFolder + "\\KZBDKA.txt", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::size_t ProgramTest::LogCount(const std::string& part) const
{
    const std::string text = LogText();
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

bool ProgramTest::WaitForLog(const std::string& part, std::size_t count)
{
    return gui::WaitUntil([&] { return LogCount(part) >= count; });
}

HWND ProgramTest::OpenTrayMenu()
{
    if (!gui::WaitUntil([] { return TrayIconShown(); }))
        return nullptr;
    ::SetCursorPos(0, 0);
    gui::RightClickTrayIcon();
    HWND menu = nullptr;
    gui::WaitUntil([&] { return (menu = program.OpenMenu()) != nullptr; });
    return menu;
}

void ProgramTest::ChooseFromTrayMenu(const std::vector<WORD>& keys)
{
    HWND menu = OpenTrayMenu();
    ASSERT_NE(menu, nullptr) << "no tray menu";
    std::vector<WORD> presses = keys;
    presses.push_back(VK_RETURN);
    gui::PressKeys(menu, presses);
    EXPECT_TRUE(gui::WaitUntil([&] { return program.OpenMenu() == nullptr; })) << "the menu stayed open";
}

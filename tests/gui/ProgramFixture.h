// KZBDKA.exe against simulated recorders: the settings in the test prefix's registry, a log
// folder per test, recorders on addresses of their own at port 6471, and the program driven
// from outside (ProgramDriver.h).
#pragma once

#include "ProgramDriver.h"
#include "SimControl.h"

#include "ui/Registry.h"
#include "ui/resource.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class ProgramTest : public ::testing::Test
{
public:
    // A scenario with the given task mask and features; nothing on its timeline.
    static nlohmann::json Scenario(unsigned tasks, nlohmann::json features = nlohmann::json::object());
    static nlohmann::json HostNameID(unsigned idType = 4);

protected:
    void SetUp() override;
    void TearDown() override;

    // A simulated recorder on a loopback address of its own, port 6471; its address.
    std::string AddRecorder(const nlohmann::json& scenario);
    // An address of its own where no recorder listens (yet).
    std::string UnusedAddress();
    // The simulator's number of the recorder at the address.
    int RecorderAt(const std::string& address) const;
    void Do(const std::string& address, nlohmann::json command);
    // The next message of that name the recorder receives after since; null on time-out.
    nlohmann::json Received(const std::string& address, const std::string& name, int since);

    // Settings of the program's key.
    void SetMachineText(const std::string& name, const std::string& value);
    void SetUserNumber(const std::string& name, std::uint32_t value);
    std::uint32_t UserNumber(const std::string& name, std::uint32_t fallback = 0xFFFFFFFF);
    bool WaitForUserNumber(const std::string& name, std::uint32_t value);

    // Starts the program and waits for its main frame.
    bool StartProgram(const std::vector<std::pair<std::string, std::string>>& environment = {});
    // Exit from the frame's menu; the exit code, or none when it did not end.
    std::optional<DWORD> ExitProgram();

    // The dialog inside the container that holds the control.
    HWND Dialog(int controlId) const { return gui::DialogHolding(program.Container(), controlId); }
    HWND Control(int dialogControlId, int controlId) const;

    // The program's log file.
    std::string LogText() const;
    std::size_t LogCount(const std::string& part) const;
    bool WaitForLog(const std::string& part, std::size_t count = 1);
    const std::string& LogFolder() const { return m_logFolder; }

    // The program's icon shows in the notification area.
    static bool TrayIconShown() { return gui::TrayIconShown(); }
    // Opens the icon's menu with a right click; the menu's window, null when none opened.
    HWND OpenTrayMenu();
    // Opens the menu and picks the item reached with the keys (arrows), then Enter.
    void ChooseFromTrayMenu(const std::vector<WORD>& keys);

    std::unique_ptr<SimControl> sim;
    gui::Program program;

private:
    std::vector<std::pair<std::string, int>> m_recorders;
    std::string m_logFolder;
};

// The headless agent: the whole agent without windows. What the GUI would show is
// printed as lines on standard output; the agent's buttons are commands on standard input.

#include "CliOptions.h"
#include "ConsoleCommands.h"
#include "ConsoleView.h"

#include "Log.h"
#include "comms/Net.h"
#include "inspection/Desktop.h"
#include "inspection/DesktopFile.h"
#include "ui/MainFrameCore.h"
#include "ui/ProgramLogging.h"
#include "ui/Registry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

void PrintLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Lines of standard input, read on a thread of their own; the end of input reads as quit.
class InputLines
{
public:
    explicit InputLines(CMainFrameCore& core) : m_core(core)
    {
        std::thread([this] { Read(); }).detach();
    }

    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> lines(m_lines.begin(), m_lines.end());
        m_lines.clear();
        return lines;
    }

private:
    void Read()
    {
        std::string line;
        while (std::getline(std::cin, line))
            Push(line);
        Push("quit");
    }

    void Push(const std::string& line)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        }
        m_core.NotifyChange();
    }

    CMainFrameCore& m_core;
    std::mutex m_mutex;
    std::deque<std::string> m_lines;
};

void ApplyOptions(const CliOptions& options)
{
#if defined(_WIN32)
    if (!options.settingsFile.empty())
        std::fputs("kzbdka-cli: --settings is ignored on Windows: the registry holds the settings\n", stderr);
#else
    if (!options.settingsFile.empty())
        setenv("KZB_REGISTRY_FILE", options.settingsFile.c_str(), 1);
#endif
    if (!options.desktopFile.empty())
        kzb::inspection::SetDesktop(std::make_shared<kzb::inspection::DesktopFile>(options.desktopFile));
}

int RunAgent(const CliOptions& options)
{
    CMainFrameCore core;
    RecorderSettings settings = ReadRecorderSettings();
    if (!options.recorders.empty())
        settings.addresses = options.recorders;
    if (options.port)
        settings.port = *options.port;
    if (!core.Start(settings)) {
        PrintLine("error: no recorder address (set RecorderAddress or use --recorder)");
        return 1;
    }

    CRegistry registry;
    const bool autoSuppressionMessages =
        registry.ReadNumber(CRegistry::Root::CurrentUser, "AutoSuppressionMessageDisplayEnabled", 0) != 0;
    ConsoleView view(core, autoSuppressionMessages, PrintLine);
    InputLines input(core);
    // Status texts with deadlines are looked at again once a second; everything else wakes
    // the loop when it changes.
    constexpr auto RecheckInterval = std::chrono::seconds(1);
    for (;;) {
        view.Refresh(std::time(nullptr));
        core.WaitForChange(RecheckInterval);
        bool quit = false;
        for (const std::string& line : input.Take()) {
            const ConsoleCommand command = ParseConsoleCommand(line);
            if (command.kind == ConsoleCommand::Kind::Quit) {
                quit = true;
                break;
            }
            if (const std::string reply = ExecuteConsoleCommand(core, command); !reply.empty())
                PrintLine(reply);
        }
        if (quit || !core.Supervise())
            break;
    }
    core.Shutdown();
    view.Refresh(std::time(nullptr));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "kzbdka-cli: %s\n%s\n", error.c_str(), CliUsage);
        return 2;
    }
    ApplyOptions(*options);
    StartProgramLogging(options->logFolder.empty() ? FindLogFolder() : UseLogFolder(options->logFolder));

    int result = 1;
    if (kzb::net::StartUp() != 0) {
        KZB_LOG(kzb::log::Error, "WSAStartup Failed!!!\n");
    } else {
        result = RunAgent(*options);
        kzb::net::CleanUp();
    }
    StopProgramLogging();
    return result;
}

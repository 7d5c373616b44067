// The headless agent: the whole agent without windows. What the GUI would show is
// printed as lines on standard output; the agent's buttons are commands on standard input.

#include "CliOptions.h"
#include "ConsoleCommands.h"
#include "ConsoleView.h"

#include "Log.h"
#include "SystemPath.h"
#include "comms/Net.h"
#include "inspection/Desktop.h"
#include "inspection/DesktopFile.h"
#include "inspection/PageSource.h"
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
// A blocking read cannot be interrupted, so the reader thread owns what it writes to: when
// the agent's loop ends first, the thread finds the loop gone and drops what it reads.
class InputLines
{
public:
    explicit InputLines(CMainFrameCore& core) : m_shared(std::make_shared<Shared>())
    {
        m_shared->core = &core;
        std::thread([shared = m_shared] { Read(*shared); }).detach();
    }

    ~InputLines()
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->core = nullptr;
    }

    InputLines(const InputLines&) = delete;
    InputLines& operator=(const InputLines&) = delete;

    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        std::vector<std::string> lines(m_shared->lines.begin(), m_shared->lines.end());
        m_shared->lines.clear();
        return lines;
    }

private:
    struct Shared
    {
        std::mutex mutex;
        std::deque<std::string> lines;
        CMainFrameCore* core = nullptr; // null once the loop has ended
    };

    static void Read(Shared& shared)
    {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!Push(shared, line))
                return;
        }
        Push(shared, "quit");
    }

    // False once nobody reads any more.
    static bool Push(Shared& shared, const std::string& line)
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.core == nullptr)
            return false;
        shared.lines.push_back(line);
        shared.core->NotifyChange();
        return true;
    }

    std::shared_ptr<Shared> m_shared;
};

// The pages the browser extension reports are browser windows too, after the desktop's own.
std::shared_ptr<kzb::inspection::PageSource> ApplyOptions(const CliOptions& options)
{
#if defined(_WIN32)
    if (!options.settingsFile.empty())
        std::fputs("kzbdka-cli: --settings is ignored on Windows: the registry holds the settings\n", stderr);
#else
    if (!options.settingsFile.empty())
        setenv("KZB_REGISTRY_FILE", options.settingsFile.c_str(), 1);
#endif
    std::shared_ptr<kzb::inspection::Desktop> desktop =
        options.desktopFile.empty()
            ? kzb::inspection::CreateSystemDesktop()
            : std::make_shared<kzb::inspection::DesktopFile>(PathFromSystemText(options.desktopFile));
    auto pages = std::make_shared<kzb::inspection::PageSource>();
    kzb::inspection::SetDesktop(std::make_shared<kzb::inspection::BrowserPagesDesktop>(desktop, pages));
    return pages;
}

int RunAgent(const CliOptions& options)
{
    CMainFrameCore core;
    // Addresses given on the command line replace the setting, which is then not read.
    RecorderSettings settings = ReadRecorderSettings(options.recorders);
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
    // Every change wakes the loop; a status text with a deadline is looked at again at the
    // first whole second past it. Nothing else is looked at while nothing happens.
    constexpr std::chrono::seconds IdleWait = std::chrono::hours(1);
    for (;;) {
        const std::time_t now = std::time(nullptr);
        view.Refresh(now);
        const std::time_t deadline = view.NextDeadline(now);
        core.WaitForChange(deadline != 0 ? std::chrono::seconds(deadline - now + 1) : IdleWait);
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
    const auto pages = ApplyOptions(*options);
    StartProgramLogging(options->logFolder.empty() ? FindLogFolder() : UseLogFolder(options->logFolder));
    auto pageServer = kzb::inspection::ServeBrowserPages(pages);

    int result = 1;
    if (kzb::net::StartUp() != 0) {
        AGENT_LOG(kzb::log::Error, "WSAStartup Failed!!!\n");
    } else {
        result = RunAgent(*options);
        kzb::net::CleanUp();
    }
    pageServer.reset();
    StopProgramLogging();
    return result;
}

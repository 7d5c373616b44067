// Feeds arbitrary bytes as the desktop file of the native build: the desktop it describes is
// read, enumerated and inspected as the inspections do. A bad file is a desktop without
// windows; nothing may crash, throw out of the reader or hand out a window it does not have.
#include "InputFile.h"
#include "Log.h"
#include "inspection/DesktopFile.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace kzb::inspection;

namespace {
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    KzbSetLogSink(&KzbDiscardLog);
    // The reader takes a path: each input is written there.
    fuzz::MakeInputFile("desktop");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::WriteInputFile(data, size);
    DesktopFile desktop(fuzz::InputFilePath());

    std::vector<WindowId> windows;
    desktop.EnumTopLevelWindows([&](WindowId window) {
        windows.push_back(window);
        return true;
    });
    const WindowId foreground = desktop.GetForegroundWindow();
    if (foreground != 0 && std::find(windows.begin(), windows.end(), foreground) == windows.end())
        std::abort();
    for (WindowId window : windows) {
        if (desktop.GetWindowTitle(window, 8).size() > 8)
            std::abort();
        desktop.EnumChildWindows(window, [&](WindowId child) {
            (void)desktop.GetWindowTextTimeout(child, 64, std::chrono::milliseconds(0));
            return true;
        });
        (void)desktop.FindWindowByClass(window, 0, "Edit");
    }
    (void)desktop.FindWindowByClass(0, 0, "Chrome_WidgetWin_1");
    static const BrowserPageAccess access;
    desktop.CreateBrowserWindowFinder()->FindBrowserWindows([&](WindowId window) {
        if (std::find(windows.begin(), windows.end(), window) == windows.end())
            std::abort();
        const auto viewer = desktop.OpenBrowserHTMLViewer(window, access);
        (void)viewer->GetTitle();
        (void)viewer->GetURL();
        (void)viewer->GetDomain();
        (void)viewer->GetHTMLBody();
        return false;
    });
    return 0;
}

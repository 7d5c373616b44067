// Plays the rest of a workstation's desktop for bench/agent_figures.py under Wine: a crowd
// of windows that never match a trigger, and a payment window opened and closed on request.
//
//     desktop_actor <windows> <children per window>
//
// Prints "ready" once the crowd is there. Then, per line on standard input: "open <title>"
// shows a window with that title and prints "opened <ms>", the moment it was asked for
// (milliseconds since 1970, the recorder simulator's clock); "close" closes it and prints
// "closed <ms>". The end of input ends it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

long long NowMilliseconds()
{
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>(ticks / 10000 - 11644473600000ULL);
}

HWND Make(const std::string& title, DWORD style, HWND parent)
{
    return ::CreateWindowExA(0, parent ? "STATIC" : "KZBDesktopActor", title.c_str(), style, 0, 0, 300, 100, parent,
                             nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

void Pump()
{
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageA(&message);
}

} // namespace

int main(int argc, char** argv)
{
    const int windows = argc > 1 ? std::atoi(argv[1]) : 300;
    const int children = argc > 2 ? std::atoi(argv[2]) : 3;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KZBDesktopActor";
    ::RegisterClassA(&windowClass);
    for (int i = 0; i < windows; ++i) {
        HWND window = Make("Customer record " + std::to_string(i) + " - CRM", WS_OVERLAPPEDWINDOW, nullptr);
        for (int j = 0; j < children; ++j)
            Make("Field " + std::to_string(j), WS_CHILD | WS_VISIBLE, window);
    }
    Pump();
    std::puts("ready");
    std::fflush(stdout);

    HWND shown = nullptr;
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("open ", 0) == 0) {
            const long long at = NowMilliseconds();
            shown = Make(line.substr(5), WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr);
            std::printf("opened %lld\n", at);
        } else if (line == "close" && shown != nullptr) {
            const long long at = NowMilliseconds();
            ::DestroyWindow(shown);
            shown = nullptr;
            std::printf("closed %lld\n", at);
        }
        std::fflush(stdout);
        Pump();
    }
    return 0;
}

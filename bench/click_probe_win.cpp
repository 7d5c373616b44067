// Presses the manual suppression Start button of a running KZBDKA.exe as a person's click
// does, again and again, and prints the moment of each press (milliseconds since 1970, the
// clock the recorder simulator stamps its events with).
//
//     click_probe <clicks> <milliseconds between clicks>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int StartButton = 1011; // IDC_SUPPRESSION_START

HWND FindStartButton()
{
    struct Search
    {
        HWND button = nullptr;
    } search;
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            char name[64] = {};
            ::GetClassNameA(window, name, sizeof name);
            if (std::strcmp(name, "#32770") != 0 || !(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW))
                return TRUE;
            for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
                if (HWND button = ::GetDlgItem(child, StartButton)) {
                    reinterpret_cast<Search*>(context)->button = button;
                    return FALSE;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.button;
}

long long NowMilliseconds()
{
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>(ticks / 10000 - 11644473600000ULL);
}

} // namespace

int main(int argc, char** argv)
{
    const int clicks = argc > 1 ? std::atoi(argv[1]) : 50;
    const int pause = argc > 2 ? std::atoi(argv[2]) : 200;
    HWND button = nullptr;
    for (int tries = 0; tries < 300 && (button = FindStartButton()) == nullptr; ++tries)
        ::Sleep(100);
    if (button == nullptr) {
        std::puts("no Start button");
        return 1;
    }
    for (int i = 0; i < clicks; ++i) {
        const long long at = NowMilliseconds();
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
        std::printf("click %lld\n", at);
        std::fflush(stdout);
        ::Sleep(static_cast<DWORD>(pause));
    }
    return 0;
}

// The soak's hands and eyes under Wine (bench/soak.py), one line of standard input each:
//
//     click <control id>   presses that button of a running KZBDKA.exe's dialogs as a click
//                          does; prints "clicked <id>" or "missing <id>"
//     count <exe name>     prints "gdi <n> user <n> handles <n> windows <n>" of the first
//                          process of that name (GetGuiResources, GetProcessHandleCount, its
//                          windows and their children), or "missing". Wine 8 answers 0 for
//                          the first three; the windows are what it can tell of USER objects.
//
// The end of input ends it.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

HWND FindButton(int id)
{
    struct Search
    {
        int id;
        HWND button = nullptr;
    } search{id};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* search = reinterpret_cast<Search*>(context);
            char name[64] = {};
            ::GetClassNameA(window, name, sizeof name);
            if (std::strcmp(name, "#32770") != 0)
                return TRUE;
            if (HWND button = ::GetDlgItem(window, search->id)) {
                search->button = button;
                return FALSE;
            }
            for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
                if (HWND button = ::GetDlgItem(child, search->id)) {
                    search->button = button;
                    return FALSE;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.button;
}

DWORD FindProcess(const std::string& exe)
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = ::Process32First(snapshot, &entry); more && !found; more = ::Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, exe.c_str()) == 0)
            found = entry.th32ProcessID;
    ::CloseHandle(snapshot);
    return found;
}

int CountWindows(DWORD pid)
{
    struct Count
    {
        DWORD pid;
        int windows = 0;
    } count{pid};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* count = reinterpret_cast<Count*>(context);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner != count->pid)
                return TRUE;
            ++count->windows;
            ::EnumChildWindows(
                window, [](HWND, LPARAM inner) -> BOOL { return ++*reinterpret_cast<int*>(inner), TRUE; },
                reinterpret_cast<LPARAM>(&count->windows));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.windows;
}

} // namespace

int main()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.rfind("click ", 0) == 0) {
            const int id = std::atoi(line.c_str() + 6);
            HWND button = FindButton(id);
            if (button && ::IsWindowEnabled(button)) {
                DWORD_PTR ignored = 0;
                ::SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
                std::printf("clicked %d\n", id);
            } else {
                std::printf("missing %d\n", id);
            }
        } else if (line.rfind("count ", 0) == 0) {
            const DWORD pid = FindProcess(line.substr(6));
            HANDLE process = pid ? ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid) : nullptr;
            if (process == nullptr) {
                std::puts("missing");
            } else {
                DWORD handles = 0;
                ::GetProcessHandleCount(process, &handles);
                std::printf("gdi %lu user %lu handles %lu windows %d\n", ::GetGuiResources(process, GR_GDIOBJECTS),
                            ::GetGuiResources(process, GR_USEROBJECTS), handles, CountWindows(pid));
                ::CloseHandle(process);
            }
        } else {
            std::puts("unknown");
        }
        std::fflush(stdout);
    }
    return 0;
}

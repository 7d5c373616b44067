// A window that another program can find on the real desktop: a visible top-level window
// with the title given on the command line.
//
//     trigger_window_app <seconds> <title>
//
// Writes "shown" to standard output once the window is on the desktop, then keeps it until
// its standard input closes or the seconds have passed, and exits. The window goes with the
// process; closing it first is not needed.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>

namespace {

// Blocks on standard input until it closes; the thread's end is the signal.
DWORD WINAPI waitForEndOfInput(void*)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return 0;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(input, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    return 0;
}

void say(const char* line)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(output, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    FlushFileBuffers(output);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 3) {
        say("usage: trigger_window_app <seconds> <title>\n");
        return 2;
    }
    const DWORD seconds = std::wcstoul(arguments[1], nullptr, 10);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"KZBTriggerWindow";
    if (RegisterClassExW(&windowClass) == 0) {
        say("failed: RegisterClassEx\n");
        return 1;
    }
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, arguments[2], WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 400, 200, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        say("failed: CreateWindowEx (is there a display?)\n");
        return 1;
    }
    UpdateWindow(window);
    LocalFree(arguments);

    HANDLE reader = CreateThread(nullptr, 0, waitForEndOfInput, nullptr, 0, nullptr);
    if (reader == nullptr) {
        say("failed: CreateThread\n");
        return 1;
    }
    say("shown\n");

    // Answer the window's messages until the input closes or the time is up.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            break;
        const DWORD woke = MsgWaitForMultipleObjects(1, &reader, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1)
            break; // input closed, time up, or a failed wait
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // Exit at once: the reader thread may still block on the input.
    ExitProcess(0);
}

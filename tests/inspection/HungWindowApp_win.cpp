// A stand-in for a hung application: it shows a window with a child control, tells the
// test it is ready, and then stops answering messages.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    HWND frame = CreateWindowExA(0, "STATIC", "KZB Hung Application", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                 200, nullptr, nullptr, instance, nullptr);
    CreateWindowExA(0, "EDIT", "Card number", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, frame, nullptr, instance,
                    nullptr);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "KZBHungWindowAppReady");
    if (ready != nullptr)
        SetEvent(ready);
    Sleep(20000);
    return 0;
}

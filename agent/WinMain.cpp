// Entry point of KZBDKA.exe. The window tree and the recorder sessions are not built yet;
// the program starts and ends cleanly so the deliverable can be built and launched.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}

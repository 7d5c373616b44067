// The application object's base: initialisation, the message loop and the exit.
#pragma once

#include "Win32.h"

#include <functional>

namespace kzb::ui {

// An event another thread signals for the window thread that must arrive even when the
// thread's message queue is full: the message loop waits for it beside the messages and
// calls signalled on the window thread. Window thread only.
void WatchEvent(HANDLE event, std::function<void()> signalled);
void UnwatchEvent(HANDLE event);

class Application
{
public:
    Application() = default;
    virtual ~Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // False: the program ends at once (ExitInstance still runs).
    virtual bool InitInstance() = 0;
    // The program's exit code.
    virtual int ExitInstance();
    // The message loop, until WM_QUIT; its code.
    int Run();
    // Runs InitInstance, the loop and ExitInstance.
    int Main();

protected:
    // Every message goes here before it is dispatched; true when it was taken.
    virtual bool PreTranslateMessage(MSG& message);

private:
    int m_exitCode = 0;
};

} // namespace kzb::ui

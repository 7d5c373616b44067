#include "Application.h"

#include <algorithm>
#include <vector>

namespace kzb::ui {

int Application::ExitInstance()
{
    return m_exitCode;
}

bool Application::PreTranslateMessage(MSG&)
{
    return false;
}

namespace {

struct WatchedEvent
{
    HANDLE event;
    std::function<void()> signalled;
};

// Window thread only.
std::vector<WatchedEvent>& WatchedEvents()
{
    static std::vector<WatchedEvent> events;
    return events;
}

} // namespace

void WatchEvent(HANDLE event, std::function<void()> signalled)
{
    WatchedEvents().push_back({event, std::move(signalled)});
}

void UnwatchEvent(HANDLE event)
{
    auto& events = WatchedEvents();
    events.erase(std::remove_if(events.begin(), events.end(), [&](const WatchedEvent& e) { return e.event == event; }),
                 events.end());
}

int Application::Run()
{
    MSG message{};
    std::vector<HANDLE> handles; // kept from one wait to the next: no allocation per message
    for (;;) {
        handles.clear();
        for (const WatchedEvent& watched : WatchedEvents())
            handles.push_back(watched.event);
        const DWORD woken = ::MsgWaitForMultipleObjectsEx(static_cast<DWORD>(handles.size()), handles.data(), INFINITE,
                                                          QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken < WAIT_OBJECT_0 + handles.size()) {
            const HANDLE event = handles[woken - WAIT_OBJECT_0];
            for (const WatchedEvent& watched : WatchedEvents()) {
                if (watched.event == event) {
                    const auto signalled = watched.signalled; // it may unwatch itself
                    signalled();
                    break;
                }
            }
            continue;
        }
        if (woken == WAIT_FAILED)
            return m_exitCode = 1;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return m_exitCode = static_cast<int>(message.wParam);
            if (PreTranslateMessage(message))
                continue;
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
}

int Application::Main()
{
    if (!InitInstance()) {
        ExitInstance();
        return 1;
    }
    Run();
    return ExitInstance();
}

} // namespace kzb::ui

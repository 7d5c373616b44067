// Windows: the desktop's changes as WinEvents of other processes' windows, received out of
// context on a thread of their own that pumps messages for them.
#include "DesktopWatcher.h"

#include <windows.h>

#include <future>
#include <thread>

namespace kzb::inspection {

namespace {

// The events that can make a trigger fire or stop.
struct EventRange
{
    DWORD first;
    DWORD last;
};
constexpr EventRange Watched[] = {
    {EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND},
    {EVENT_OBJECT_CREATE, EVENT_OBJECT_HIDE}, // create, destroy, show, hide
    {EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE},
};

class WinEventWatcher : public DesktopWatcher
{
public:
    explicit WinEventWatcher(Changed changed) : m_changed(std::move(changed))
    {
        std::promise<DWORD> started;
        std::future<DWORD> threadId = started.get_future();
        m_thread = std::thread([this, &started] { Run(started); });
        m_threadId = threadId.get();
    }

    ~WinEventWatcher() override
    {
        if (m_threadId != 0)
            ::PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run(std::promise<DWORD>& started)
    {
        MSG message;
        ::PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // the queue exists from here on
        t_watcher = this;
        HWINEVENTHOOK hooks[std::size(Watched)] = {};
        for (std::size_t i = 0; i < std::size(Watched); ++i)
            hooks[i] = ::SetWinEventHook(Watched[i].first, Watched[i].last, nullptr, &WinEventWatcher::OnEvent, 0, 0,
                                         WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
        started.set_value(::GetCurrentThreadId());
        while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        for (HWINEVENTHOOK hook : hooks) {
            if (hook != nullptr)
                ::UnhookWinEvent(hook);
        }
        t_watcher = nullptr;
    }

    static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
    {
        // Windows only: no carets, cursors, menu items or other parts of a window.
        if (window == nullptr || object != OBJID_WINDOW || child != CHILDID_SELF || t_watcher == nullptr)
            return;
        t_watcher->m_changed();
    }

    static thread_local WinEventWatcher* t_watcher;

    Changed m_changed;
    std::thread m_thread;
    DWORD m_threadId = 0;
};

thread_local WinEventWatcher* WinEventWatcher::t_watcher = nullptr;

} // namespace

std::unique_ptr<DesktopWatcher> WatchSystemDesktop(DesktopWatcher::Changed changed)
{
    return std::make_unique<WinEventWatcher>(std::move(changed));
}

std::unique_ptr<DesktopWatcher> WatchFile(const std::filesystem::path&, DesktopWatcher::Changed)
{
    return nullptr;
}

} // namespace kzb::inspection

// Windows: the desktop's changes as WinEvents of other processes' windows, received out of
// context on a thread of their own that pumps messages for them; the desktop file's as
// changes of its folder.
#include "DesktopWatcher.h"

#include "Log.h"

#include <windows.h>

#include <cwchar>
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

// The folder's changes read with ReadDirectoryChangesW, overlapped, so that a stop event can
// end the wait at once. The folder is watched, not the file, so that a file replaced at once
// (written elsewhere and renamed over it) is seen as well. The first read is asked for before
// the watcher is handed out: no change after that is missed.
class FileWatcher : public DesktopWatcher
{
public:
    FileWatcher(HANDLE folder, HANDLE done, HANDLE stop, std::wstring name, Changed changed)
        : m_folder(folder), m_done(done), m_stop(stop), m_name(std::move(name)), m_changed(std::move(changed))
    {
        if (AskForChanges())
            m_thread = std::thread([this] { Run(); });
    }

    ~FileWatcher() override
    {
        ::SetEvent(m_stop);
        if (m_thread.joinable())
            m_thread.join();
        ::CloseHandle(m_folder);
        ::CloseHandle(m_done);
        ::CloseHandle(m_stop);
    }

    bool Started() const { return m_thread.joinable(); }

private:
    static constexpr DWORD Filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

    bool AskForChanges()
    {
        m_overlapped = {};
        m_overlapped.hEvent = m_done;
        if (::ReadDirectoryChangesW(m_folder, m_buffer, sizeof m_buffer, FALSE, Filter, nullptr, &m_overlapped,
                                    nullptr))
            return true;
        KZB_LOG(kzb::log::Warning, "Desktop file watcher: the folder cannot be watched (error %lu)", ::GetLastError());
        return false;
    }

    void Run()
    {
        const HANDLE waited[] = {m_done, m_stop};
        for (;;) {
            const DWORD woken = ::WaitForMultipleObjects(2, waited, FALSE, INFINITE);
            DWORD length = 0;
            if (woken != WAIT_OBJECT_0) {
                ::CancelIoEx(m_folder, &m_overlapped); // asked for by another thread perhaps
                ::GetOverlappedResult(m_folder, &m_overlapped, &length, TRUE); // the buffer is ours again
                return;
            }
            const bool read = ::GetOverlappedResult(m_folder, &m_overlapped, &length, FALSE) != FALSE;
            // No entries: more changes than the buffer holds, ours perhaps among them.
            const bool ours = read && (length == 0 || Names(length));
            if (!AskForChanges())
                return;
            if (ours)
                m_changed();
        }
    }

    // Whether the entries name the desktop file (file names compare without regard to case).
    bool Names(DWORD length) const
    {
        for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= length;) {
            const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(m_buffer + at);
            const std::size_t characters = entry->FileNameLength / sizeof(WCHAR);
            if (characters == m_name.size() && ::_wcsnicmp(entry->FileName, m_name.c_str(), characters) == 0)
                return true;
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
        return false;
    }

    const HANDLE m_folder;
    const HANDLE m_done;
    const HANDLE m_stop;
    const std::wstring m_name;
    Changed m_changed;
    OVERLAPPED m_overlapped = {};
    alignas(DWORD) BYTE m_buffer[16 * 1024];
    std::thread m_thread;
};

} // namespace

std::unique_ptr<DesktopWatcher> WatchSystemDesktop(DesktopWatcher::Changed changed)
{
    return std::make_unique<WinEventWatcher>(std::move(changed));
}

std::unique_ptr<DesktopWatcher> WatchFile(const std::filesystem::path& file, DesktopWatcher::Changed changed)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const HANDLE handle = ::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        KZB_LOG(kzb::log::Warning, "Desktop file '%s' not watched (error %lu)", file.string().c_str(),
                ::GetLastError());
        return nullptr;
    }
    const HANDLE done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr || stop == nullptr) {
        KZB_LOG(kzb::log::Warning, "Desktop file '%s' not watched (error %lu)", file.string().c_str(),
                ::GetLastError());
        for (HANDLE opened : {handle, done, stop}) {
            if (opened != nullptr)
                ::CloseHandle(opened);
        }
        return nullptr;
    }
    auto watcher = std::make_unique<FileWatcher>(handle, done, stop, file.filename().wstring(), std::move(changed));
    if (!watcher->Started())
        return nullptr;
    return watcher;
}

} // namespace kzb::inspection

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

// Stopped by an event rather than a posted message: a queue that refuses the message would
// leave the destructor waiting for ever.
class WinEventWatcher : public DesktopWatcher
{
public:
    explicit WinEventWatcher(Changed changed)
        : m_changed(std::move(changed)), m_stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (m_stop == nullptr)
            return;
        std::promise<bool> started;
        std::future<bool> hooked = started.get_future();
        m_thread = std::thread([this, &started] { Run(started); });
        m_watching = hooked.get();
    }

    ~WinEventWatcher() override
    {
        if (m_stop != nullptr)
            ::SetEvent(m_stop);
        if (m_thread.joinable())
            m_thread.join();
        if (m_stop != nullptr)
            ::CloseHandle(m_stop);
    }

    // False when no change can be reported: the desktop is then looked at every period only.
    bool Watching() const { return m_watching; }

private:
    void Run(std::promise<bool>& started)
    {
        t_watcher = this;
        HWINEVENTHOOK hooks[std::size(Watched)] = {};
        bool all = true;
        for (std::size_t i = 0; i < std::size(Watched); ++i) {
            hooks[i] = ::SetWinEventHook(Watched[i].first, Watched[i].last, nullptr, &WinEventWatcher::OnEvent, 0, 0,
                                         WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
            if (hooks[i] == nullptr) {
                AGENT_LOG(kzb::log::Warning,
                        "Desktop watcher: events 0x%lx to 0x%lx cannot be watched (error %lu); the desktop is looked "
                        "at every period instead",
                        static_cast<unsigned long>(Watched[i].first), static_cast<unsigned long>(Watched[i].last),
                        ::GetLastError());
                all = false;
            }
        }
        started.set_value(all);
        // Without every event a change could go unseen: the period alone is the honest answer.
        while (all && ::MsgWaitForMultipleObjects(1, &m_stop, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
            MSG message;
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageA(&message);
            }
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
    const HANDLE m_stop;
    std::thread m_thread;
    bool m_watching = false;
};

thread_local WinEventWatcher* WinEventWatcher::t_watcher = nullptr;

// What tells one version of a file from another: a file renamed over it is another file.
struct FileIdentity
{
    DWORD volume = 0, indexHigh = 0, indexLow = 0, sizeHigh = 0, sizeLow = 0;
    FILETIME written{};

    static FileIdentity Of(const std::wstring& path)
    {
        FileIdentity identity;
        const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return identity; // none: as a missing file
        BY_HANDLE_FILE_INFORMATION information{};
        if (::GetFileInformationByHandle(file, &information)) {
            identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow,
                        information.nFileSizeHigh, information.nFileSizeLow, information.ftLastWriteTime};
        }
        ::CloseHandle(file);
        return identity;
    }

    bool operator==(const FileIdentity& other) const
    {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow &&
               sizeHigh == other.sizeHigh && sizeLow == other.sizeLow &&
               written.dwLowDateTime == other.written.dwLowDateTime &&
               written.dwHighDateTime == other.written.dwHighDateTime;
    }
};

// The folder's changes read with ReadDirectoryChangesW, overlapped, so that a stop event can
// end the wait at once. The folder is watched, not the file, so that a file replaced at once
// (written elsewhere and renamed over it) is seen as well. The first read is asked for before
// the watcher is handed out. Not every system keeps the changes that come between one read's
// end and the next one's start (Wine does not), so after each read the file itself is
// compared with what was last reported: a change in that gap is not missed either.
class FileWatcher : public DesktopWatcher
{
public:
    FileWatcher(HANDLE folder, HANDLE done, HANDLE stop, std::wstring path, std::wstring name, Changed changed)
        : m_folder(folder), m_done(done), m_stop(stop), m_path(std::move(path)), m_name(std::move(name)),
          m_changed(std::move(changed))
    {
        if (AskForChanges()) {
            m_reported = FileIdentity::Of(m_path);
            m_thread = std::thread([this] { Run(); });
        }
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
        AGENT_LOG(kzb::log::Warning, "Desktop file watcher: the folder cannot be watched (error %lu)", ::GetLastError());
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
            const FileIdentity now = FileIdentity::Of(m_path);
            if (ours || !(now == m_reported)) {
                m_reported = now;
                m_changed();
            }
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
    const std::wstring m_path;
    const std::wstring m_name;
    Changed m_changed;
    FileIdentity m_reported; // the file as it was when a change was last reported
    OVERLAPPED m_overlapped = {};
    alignas(DWORD) BYTE m_buffer[16 * 1024];
    std::thread m_thread;
};

} // namespace

std::unique_ptr<DesktopWatcher> WatchSystemDesktop(DesktopWatcher::Changed changed)
{
    auto watcher = std::make_unique<WinEventWatcher>(std::move(changed));
    if (!watcher->Watching())
        return nullptr;
    return watcher;
}

std::unique_ptr<DesktopWatcher> WatchFile(const std::filesystem::path& file, DesktopWatcher::Changed changed)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const HANDLE handle = ::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        AGENT_LOG(kzb::log::Warning, "Desktop file '%s' not watched (error %lu)", file.string().c_str(),
                ::GetLastError());
        return nullptr;
    }
    const HANDLE done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr || stop == nullptr) {
        AGENT_LOG(kzb::log::Warning, "Desktop file '%s' not watched (error %lu)", file.string().c_str(),
                ::GetLastError());
        for (HANDLE opened : {handle, done, stop}) {
            if (opened != nullptr)
                ::CloseHandle(opened);
        }
        return nullptr;
    }
    auto watcher = std::make_unique<FileWatcher>(handle, done, stop, file.wstring(), file.filename().wstring(),
                                                 std::move(changed));
    if (!watcher->Started())
        return nullptr;
    return watcher;
}

} // namespace kzb::inspection

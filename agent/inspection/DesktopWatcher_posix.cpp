// Linux: the desktop file watched with inotify. Its folder is watched, not the file, so
// that a file replaced at once (written elsewhere and renamed over it) is seen as well.
#include "DesktopWatcher.h"

#include "Log.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

namespace kzb::inspection {

namespace {

class FileWatcher : public DesktopWatcher
{
public:
    FileWatcher(int inotify, int stop, std::string name, Changed changed)
        : m_inotify(inotify), m_stop(stop), m_name(std::move(name)), m_changed(std::move(changed)),
          m_thread([this] { Run(); })
    {
    }

    ~FileWatcher() override
    {
        const std::uint64_t one = 1;
        if (::write(m_stop, &one, sizeof one) < 0)
            AGENT_LOG(kzb::log::Error, "Desktop file watcher: cannot be stopped (%s)", std::strerror(errno));
        m_thread.join();
        ::close(m_inotify);
        ::close(m_stop);
    }

private:
    void Run()
    {
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        pollfd watched[] = {{m_inotify, POLLIN, 0}, {m_stop, POLLIN, 0}};
        for (;;) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (watched[1].revents != 0)
                return;
            const ssize_t length = ::read(m_inotify, buffer, sizeof buffer);
            if (length <= 0)
                continue;
            bool ours = false;
            for (char* at = buffer; at < buffer + length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                ours = ours || (event->len > 0 && m_name == event->name);
                at += sizeof(inotify_event) + event->len;
            }
            if (ours)
                m_changed();
        }
    }

    const int m_inotify;
    const int m_stop;
    const std::string m_name;
    Changed m_changed;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<DesktopWatcher> WatchSystemDesktop(DesktopWatcher::Changed)
{
    return nullptr;
}

std::unique_ptr<DesktopWatcher> WatchFile(const std::filesystem::path& file, DesktopWatcher::Changed changed)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify < 0) {
        AGENT_LOG(kzb::log::Warning, "Desktop file '%s' not watched: %s", file.c_str(), std::strerror(errno));
        return nullptr;
    }
    if (::inotify_add_watch(inotify, folder.c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE) < 0) {
        AGENT_LOG(kzb::log::Warning, "Desktop file '%s' not watched: %s", file.c_str(), std::strerror(errno));
        ::close(inotify);
        return nullptr;
    }
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    if (stop < 0) {
        ::close(inotify);
        return nullptr;
    }
    return std::make_unique<FileWatcher>(inotify, stop, file.filename().string(), std::move(changed));
}

} // namespace kzb::inspection

// kzbdka-pagehost: the browser starts it for the extension and talks to it over its standard
// streams; it passes checked messages between the browser and the agent of this user's
// session. It waits for an agent that is not running yet (watching the agent's folder, not
// polling) and finds it again when it restarts. It ends when the browser closes its input.
#include "PageRelay.h"

#include "inspection/PageSource.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

using kzb::inspection::PageFrameReader;
using kzb::pagehost::From;
using kzb::pagehost::Note;

namespace {

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t written = fd == STDOUT_FILENO ? ::write(fd, bytes.data() + at, bytes.size() - at)
                                                    : ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        at += static_cast<std::size_t>(written);
    }
    return true;
}

int ConnectToAgent(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    // The other end must be this user's: nobody else can put a socket in the folder, but
    // the folder's owner is checked each time it is found, and so is the peer.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::getuid()) {
        Note("the agent's socket belongs to another user; not used");
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// For the figures (bench/browser_figures.py): when each message came from the browser, on
// the wall clock, with its size and nothing of its text.
void NoteTime(std::size_t size)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char line[96];
    std::snprintf(line, sizeof line, "browser message of %zu bytes at %lld.%06ld", size,
                  static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    Note(line);
}

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    const bool times = std::getenv("KZB_PAGEHOST_TIMES") != nullptr;
    const std::string origin = argc > 1 ? argv[1] : "";

    std::string error;
    const std::string path = kzb::inspection::PageChannelName(error);
    if (path.empty()) {
        Note("no agent can be reached: " + error);
        return 1;
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string socketName = path.substr(path.rfind('/') + 1);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
        Note(std::string("the agent's folder cannot be watched: ") + std::strerror(errno));
        return 1;
    }

    PageFrameReader fromBrowser(kzb::inspection::MaxPageMessageSize);
    PageFrameReader fromAgent(kzb::inspection::MaxToBrowserMessageSize);
    int agent = -1;
    auto connect = [&] {
        agent = ConnectToAgent(path);
        if (agent < 0)
            return;
        fromAgent = PageFrameReader(kzb::inspection::MaxToBrowserMessageSize);
        kzb::inspection::PageMessage hello;
        hello.kind = kzb::inspection::PageMessage::Kind::Hello;
        hello.origin = origin;
        if (!WriteAll(agent, kzb::inspection::FramePageMessage(kzb::inspection::FormatPageMessage(hello)))) {
            ::close(agent);
            agent = -1;
            return;
        }
        Note("connected to the agent");
    };
    auto disconnect = [&] {
        ::close(agent);
        agent = -1;
        Note("the agent is gone; waiting for it");
    };
    connect();
    if (agent < 0)
        Note("no agent yet; waiting for it");

    char buffer[64 * 1024];
    for (;;) {
        pollfd watched[] = {{STDIN_FILENO, POLLIN, 0}, {watch, POLLIN, 0}, {agent, POLLIN, 0}};
        if (::poll(watched, agent >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (watched[0].revents != 0) {
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                break; // the browser let go
            if (got > 0) {
                fromBrowser.Append(buffer, static_cast<std::size_t>(got));
                while (auto frame = fromBrowser.Next()) {
                    if (times)
                        NoteTime(frame->size);
                    const std::string relayed = kzb::pagehost::Relay(From::Browser, *frame);
                    // Without an agent the page is dropped: a new agent asks for every window.
                    if (!relayed.empty() && agent >= 0 && !WriteAll(agent, relayed))
                        disconnect();
                }
            }
        }
        if (watched[1].revents != 0) {
            alignas(inotify_event) char events[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
            bool ours = false;
            for (ssize_t length; (length = ::read(watch, events, sizeof events)) > 0;) {
                for (char* at = events; at < events + length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(at);
                    ours = ours || (event->len > 0 && socketName == event->name);
                    at += sizeof(inotify_event) + event->len;
                }
            }
            // A restarted agent puts a new socket in place; the old connection may not have
            // ended yet.
            if (ours) {
                if (agent >= 0)
                    disconnect();
                connect();
            }
        }
        if (agent >= 0 && watched[2].revents != 0) {
            const ssize_t got = ::recv(agent, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                disconnect();
                continue;
            }
            fromAgent.Append(buffer, static_cast<std::size_t>(got));
            while (auto frame = fromAgent.Next()) {
                const std::string relayed = kzb::pagehost::Relay(From::Agent, *frame);
                if (!relayed.empty() && !WriteAll(STDOUT_FILENO, relayed))
                    return 1;
            }
        }
    }
    if (agent >= 0)
        ::close(agent);
    return 0;
}

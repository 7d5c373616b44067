#pragma once

#include <filesystem>
#include <functional>
#include <memory>

namespace kzb::inspection {

// Tells, from a thread of its own, that the desktop changed in a way that can make a
// trigger fire or stop (a window came, went, showed, hid, was renamed or came to the front).
// It decides nothing: whoever listens looks at the desktop again. Destroying it stops it
// at once.
class DesktopWatcher
{
public:
    using Changed = std::function<void()>;
    virtual ~DesktopWatcher() = default;
};

// The real desktop's windows: on Windows a WinEvent hook of other processes' windows; none
// elsewhere (null).
std::unique_ptr<DesktopWatcher> WatchSystemDesktop(DesktopWatcher::Changed changed);

// A file replaced or rewritten in its folder (the desktop file); null where files cannot be
// watched.
std::unique_ptr<DesktopWatcher> WatchFile(const std::filesystem::path& file, DesktopWatcher::Changed changed);

} // namespace kzb::inspection

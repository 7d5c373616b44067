#include "Desktop.h"

#include <mutex>

namespace kzb::inspection {

namespace {
std::mutex g_desktopMutex;
std::shared_ptr<Desktop> g_desktop;
} // namespace

std::shared_ptr<Desktop> GetDesktop()
{
    std::lock_guard lock(g_desktopMutex);
    if (!g_desktop)
        g_desktop = CreateSystemDesktop();
    return g_desktop;
}

void SetDesktop(std::shared_ptr<Desktop> desktop)
{
    std::lock_guard lock(g_desktopMutex);
    g_desktop = std::move(desktop);
}

} // namespace kzb::inspection

#include "Desktop.h"

#include "DesktopWatcher.h"
#include "InspectionSnapshot.h"

#include <mutex>

namespace kzb::inspection {

namespace {
std::mutex g_desktopMutex;
std::shared_ptr<Desktop> g_desktop;
// The snapshot of the inspection running on this thread, if any.
thread_local std::shared_ptr<CachingDesktop> t_snapshot;
} // namespace

std::unique_ptr<DesktopWatcher> Desktop::Watch(std::function<void()>)
{
    return nullptr;
}

std::shared_ptr<Desktop> GetDesktop()
{
    if (t_snapshot)
        return t_snapshot;
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

InspectionSnapshot::InspectionSnapshot() : m_previous(t_snapshot)
{
    if (!t_snapshot)
        t_snapshot = std::make_shared<CachingDesktop>(GetDesktop());
}

InspectionSnapshot::InspectionSnapshot(std::shared_ptr<CachingDesktop> shared) : m_previous(t_snapshot)
{
    t_snapshot = std::move(shared);
}

InspectionSnapshot::~InspectionSnapshot()
{
    t_snapshot = m_previous;
}

CachingDesktop& CurrentSnapshot()
{
    return *t_snapshot;
}

} // namespace kzb::inspection

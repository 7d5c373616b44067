#include "DesktopFile.h"

#include <cstdlib>

namespace kzb::inspection {

// Pages come from the desktop file: nothing to set up.
struct BrowserPageAccess::Platform
{
};

BrowserPageAccess::BrowserPageAccess() = default;

BrowserPageAccess::~BrowserPageAccess() = default;

// Without Windows the desktop is a desktop file: KZB_DESKTOP_FILE, or none at all.
std::shared_ptr<Desktop> CreateSystemDesktop(OwnWindows)
{
    const char* path = std::getenv("KZB_DESKTOP_FILE");
    return std::make_shared<DesktopFile>(path ? path : "");
}

} // namespace kzb::inspection

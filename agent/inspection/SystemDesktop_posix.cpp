#include "DesktopFile.h"

#include <cstdlib>

namespace kzb::inspection {

// Without Windows the desktop is a desktop file: KZB_DESKTOP_FILE, or none at all.
std::shared_ptr<Desktop> CreateSystemDesktop(OwnWindows)
{
    const char* path = std::getenv("KZB_DESKTOP_FILE");
    return std::make_shared<DesktopFile>(path ? path : "");
}

} // namespace kzb::inspection

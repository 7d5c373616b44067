#include "WindowSettings.h"

#include "Registry.h"

#include <cstdint>

namespace kzb::ui {

namespace {

// The value names under the program key of the current user.
namespace value {
constexpr const char* ShowWindow = "ShowWindow";
constexpr const char* AlwaysOnTop = "AlwaysOnTop";
constexpr const char* WindowTop = "WindowTop";
constexpr const char* WindowLeft = "WindowLeft";
constexpr const char* LogLevel = "LogLevel";
constexpr const char* AutoSuppressionMessages = "AutoSuppressionMessageDisplayEnabled";
} // namespace value

} // namespace

WindowSettings WindowSettings::Read(CRegistry& registry)
{
    constexpr auto user = CRegistry::Root::CurrentUser;
    WindowSettings settings;
    settings.showWindow = registry.ReadNumber(user, value::ShowWindow, 0) != 0;
    settings.alwaysOnTop = registry.ReadNumber(user, value::AlwaysOnTop, 0) != 0;
    settings.windowTop = static_cast<int>(registry.ReadNumber(user, value::WindowTop, 0));
    settings.windowLeft = static_cast<int>(registry.ReadNumber(user, value::WindowLeft, 0));
    settings.autoSuppressionMessages = registry.ReadNumber(user, value::AutoSuppressionMessages, 0) != 0;
    return settings;
}

void WindowSettings::KeepOnDesktop(const DesktopArea& desktop)
{
    const int height = desktop.bottom - desktop.top;
    if (windowTop < 0)
        windowTop = 0;
    else if (windowTop > height - 100)
        windowTop = desktop.bottom - 100;
    if (windowLeft < 0)
        windowLeft = 0;
    else if (windowLeft > desktop.right - 100)
        windowLeft = desktop.right - 100;
}

bool WindowSettings::Save(CRegistry& registry, int logLevel) const
{
    if (!registry.OpenProgramKeyForWriting())
        return false;
    registry.SetNumber(value::ShowWindow, showWindow ? 1 : 0);
    registry.SetNumber(value::AlwaysOnTop, alwaysOnTop ? 1 : 0);
    registry.SetNumber(value::WindowTop, static_cast<std::uint32_t>(windowTop));
    registry.SetNumber(value::WindowLeft, static_cast<std::uint32_t>(windowLeft));
    registry.SetNumber(value::LogLevel, static_cast<std::uint32_t>(logLevel));
    return true;
}

} // namespace kzb::ui

// The window messages of the program, in one place: its own, the icon's callback and the
// ones the shell and the program register by name.
#pragma once

#include <windows.h>

namespace kzb::ui::message {

// Something the windows show may have changed (posted to the main frame by any thread).
constexpr UINT StateChanged = WM_APP + 1;
// The notification-area icon's mouse events, sent by the shell to the main frame.
constexpr UINT TrayIcon = WM_USER + 10;

// Registered: sent to the main frame with the tray menu just before it opens.
constexpr const wchar_t* TrayMenuOpening = L"DKATrayCallback";
// Registered by the shell: the taskbar was made again, icons must be added again.
constexpr const wchar_t* TaskbarCreated = L"TaskbarCreated";

} // namespace kzb::ui::message

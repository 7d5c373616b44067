// The notification-area icon: its tooltip, its menu and its double-click.
#pragma once

#include "Win32.h"

#include <shellapi.h>

#include <string>

namespace kzb::ui {

// The shell's notification area, behind a seam so that a test can make it refuse icons.
class NotificationArea
{
public:
    virtual ~NotificationArea() = default;
    virtual bool Notify(DWORD action, NOTIFYICONDATAA& data);
};

class CTrayIcon
{
public:
    // The icon's number among the program's icons (it has one).
    static constexpr UINT IconId = 130;

    explicit CTrayIcon(NotificationArea& area) : m_area(area) {}
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    bool Create(const std::string& tooltip, HWND owner);
    void SetIcon();
    void Remove();
    void Restore();
    void SetTooltip(const std::string& tooltip);
    // The icon's callback message (first and second parameter).
    LRESULT OnNotification(WPARAM id, LPARAM event);
    // Sent to the owner with the menu and its first pop-up before the menu opens; 0 = none.
    void SetMenuMessage(UINT message) { m_menuMessage = message; }

    bool IsCreated() const { return m_created; }
    bool IsRemoved() const { return m_removed; }

private:
    NotificationArea& m_area;
    bool m_created = false;
    bool m_removed = false;
    NOTIFYICONDATAA m_data{};
    HICON m_icon = nullptr;
    UINT m_menuMessage = 0;
};

} // namespace kzb::ui

#include "TrayIcon.h"

#include "Messages.h"

#include "ui/resource.h"

#include <cstring>

namespace kzb::ui {

bool NotificationArea::Notify(DWORD action, NOTIFYICONDATAA& data)
{
    return ::Shell_NotifyIconA(action, &data) != FALSE;
}

CTrayIcon::~CTrayIcon()
{
    if (m_created && !m_removed)
        m_area.Notify(NIM_DELETE, m_data);
    if (m_icon != nullptr)
        ::DestroyIcon(m_icon);
}

bool CTrayIcon::Create(const std::string& tooltip, HWND owner)
{
    if (owner == nullptr || !::IsWindow(owner)) {
        m_created = false;
        return false;
    }
    m_data = NOTIFYICONDATAA{};
    // The record with a 128-character tooltip and an item identifier, without a balloon icon.
    m_data.cbSize = NOTIFYICONDATAA_V3_SIZE;
    m_data.hWnd = owner;
    m_data.uID = IconId;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_data.uCallbackMessage = message::TrayIcon;
    m_data.hIcon = nullptr;
    ::strncpy(m_data.szTip, tooltip.c_str(), sizeof m_data.szTip - 1);
    m_created = m_area.Notify(NIM_ADD, m_data);
    m_removed = false;
    return m_created;
}

void CTrayIcon::SetIcon()
{
    if (m_icon == nullptr)
        m_icon = static_cast<HICON>(::LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    if (!m_created)
        return;
    m_data.hIcon = m_icon;
    m_data.uFlags = NIF_ICON;
    m_area.Notify(NIM_MODIFY, m_data);
}

void CTrayIcon::Remove()
{
    if (!m_created || m_removed)
        return;
    m_area.Notify(NIM_DELETE, m_data);
    m_removed = true;
}

void CTrayIcon::Restore()
{
    if (!m_created || !m_removed)
        return;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_area.Notify(NIM_ADD, m_data);
    m_removed = false;
}

void CTrayIcon::SetTooltip(const std::string& tooltip)
{
    if (!m_created)
        return;
    std::memset(m_data.szTip, 0, sizeof m_data.szTip);
    ::strncpy(m_data.szTip, tooltip.c_str(), sizeof m_data.szTip - 1);
    m_data.uFlags = NIF_TIP;
    if (!m_removed)
        m_area.Notify(NIM_MODIFY, m_data);
}

LRESULT CTrayIcon::OnNotification(WPARAM id, LPARAM event)
{
    if (id != IconId)
        return 0;
    const UINT mouse = LOWORD(event);
    if (mouse != WM_RBUTTONUP && mouse != WM_LBUTTONDBLCLK)
        return 0;
    HMENU menu = ::LoadMenuA(Instance(), MAKEINTRESOURCEA(IDR_TRAYMENU));
    if (menu == nullptr)
        return 0;
    HMENU popup = ::GetSubMenu(menu, 0);
    if (popup == nullptr) {
        ::DestroyMenu(menu);
        return 0;
    }
    HWND owner = m_data.hWnd;
    if (mouse == WM_RBUTTONUP) {
        ::SetMenuDefaultItem(popup, 0, TRUE);
        if (m_menuMessage >= WM_USER)
            ::SendMessageA(owner, m_menuMessage, reinterpret_cast<WPARAM>(menu), reinterpret_cast<LPARAM>(popup));
        POINT cursor{};
        ::GetCursorPos(&cursor);
        ::SetForegroundWindow(owner);
        ::TrackPopupMenu(popup, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, owner, nullptr);
        // Lets the menu close when the user clicks elsewhere.
        ::PostMessageA(owner, WM_NULL, 0, 0);
    } else {
        ::SetForegroundWindow(owner);
        ::SendMessageA(owner, WM_COMMAND, ::GetMenuItemID(popup, 0), 0);
    }
    ::DestroyMenu(menu);
    return 1;
}

} // namespace kzb::ui

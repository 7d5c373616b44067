#include "ContainerDialog.h"

#include "ui/Strings.h"
#include "ui/resource.h"

namespace kzb::ui {

CDKADialog::~CDKADialog()
{
    Destroy();
    for (HICON icon : {m_bigIcon, m_smallIcon}) {
        if (icon != nullptr)
            ::DestroyIcon(icon);
    }
}

bool CDKADialog::OnInitDialog()
{
    m_bigIcon = static_cast<HICON>(::LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(::LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    ::SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    SetText(Handle(), strings::ProductName);
    return true;
}

bool CDKADialog::OnCommand(int id, int, HWND)
{
    // Enter and Escape reach the container as IDOK and IDCANCEL: neither closes it.
    return id == IDOK || id == IDCANCEL;
}

INT_PTR CDKADialog::HandleMessage(UINT message, WPARAM wParam, LPARAM, bool& handled)
{
    handled = false;
    if (message == WM_EXITSIZEMOVE) {
        RECT rect{};
        ::GetWindowRect(Handle(), &rect);
        m_listener.OnContainerMoved(rect.left, rect.top);
    } else if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        m_listener.OnContainerClosed();
        Show(false);
        handled = true;
    }
    return 0;
}

} // namespace kzb::ui

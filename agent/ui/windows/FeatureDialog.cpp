#include "FeatureDialog.h"

namespace kzb::ui {

CFeatureDialog::~CFeatureDialog()
{
    Destroy();
    if (m_tooltip != nullptr)
        ::DestroyWindow(m_tooltip);
    for (HBITMAP picture : m_pictures)
        ::DeleteObject(picture);
}

bool CFeatureDialog::OnInitDialog()
{
    m_tooltip = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                  Instance(), nullptr);
    if (m_tooltip != nullptr)
        ::SendMessageA(m_tooltip, TTM_ACTIVATE, TRUE, 0);
    return true;
}

void CFeatureDialog::AddTooltip(HWND control, const std::string& text)
{
    if (m_tooltip == nullptr || control == nullptr)
        return;
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    // The tooltip watches the control's mouse messages itself.
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<char*>(text.c_str());
    ::SendMessageA(m_tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void CFeatureDialog::RemoveTooltip(HWND control)
{
    if (m_tooltip == nullptr || control == nullptr)
        return;
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    ::SendMessageA(m_tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

HBITMAP CFeatureDialog::KeepPicture(unsigned bitmapId)
{
    HBITMAP picture = LoadPicture(bitmapId);
    if (picture != nullptr)
        m_pictures.push_back(picture);
    return picture;
}

void CFeatureDialog::SetButtonImage(HWND button, unsigned bitmapId)
{
    HBITMAP picture = KeepPicture(bitmapId);
    if (button == nullptr || picture == nullptr)
        return;
    ::SendMessageA(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    const SIZE size = BitmapSize(picture);
    ::SetWindowPos(button, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CFeatureDialog::PlaceGroupBox(HWND groupBox, int width, int height)
{
    ::SetWindowPos(groupBox, nullptr, pane::GroupLeft, pane::GroupTop, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    FitToGroupBox(groupBox);
}

void CFeatureDialog::FitToGroupBox(HWND groupBox)
{
    const SIZE group = ClientSize(groupBox);
    SetClientSize(Handle(), group.cx + 2 * pane::GroupLeft, group.cy + 2 * pane::GroupTop);
}

void CFeatureDialog::PlaceGroupAround(HWND groupBox, int contentHeight)
{
    PlaceGroupBox(groupBox, m_layoutWidth + pane::GroupSpareWidth, contentHeight + pane::GroupSpareHeight);
}

int CFeatureDialog::LayOutButtonPair(HWND first, HWND second, int leadingWidth, HWND groupBox)
{
    const SIZE button = ClientSize(first);
    const int gap = (m_layoutWidth - 2 * button.cx - leadingWidth) / 3;
    MoveTo(first, gap + leadingWidth + pane::ContentLeft, pane::ContentTop);
    MoveTo(second, 2 * gap + button.cx + leadingWidth + pane::ContentLeft, pane::ContentTop);
    m_contentHeight = button.cy;
    PlaceGroupAround(groupBox, button.cy);
    return button.cy;
}

HFONT CreateDialogFont()
{
    return ::CreateFontA(13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
}

void SetFontOfAll(HWND window, HFONT font)
{
    ::SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

} // namespace kzb::ui

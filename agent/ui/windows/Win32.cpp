#include "Win32.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kzb::ui {

namespace {

// The colour the pictures are drawn on (tools/draw-resources).
constexpr COLORREF PictureKey = RGB(240, 240, 240);

} // namespace

HINSTANCE Instance()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

HBITMAP LoadPicture(unsigned id)
{
    auto bitmap = static_cast<HBITMAP>(
        ::LoadImageA(Instance(), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr)
        return nullptr;
    DIBSECTION section{};
    if (::GetObjectA(bitmap, sizeof section, &section) == sizeof section && section.dsBm.bmBits != nullptr &&
        section.dsBm.bmBitsPixel == 24) {
        const COLORREF face = ::GetSysColor(COLOR_3DFACE);
        auto* rows = static_cast<BYTE*>(section.dsBm.bmBits);
        for (LONG y = 0; y < section.dsBm.bmHeight; ++y) {
            BYTE* pixel = rows + static_cast<std::size_t>(y) * section.dsBm.bmWidthBytes;
            for (LONG x = 0; x < section.dsBm.bmWidth; ++x, pixel += 3) {
                if (RGB(pixel[2], pixel[1], pixel[0]) == PictureKey) {
                    pixel[0] = GetBValue(face);
                    pixel[1] = GetGValue(face);
                    pixel[2] = GetRValue(face);
                }
            }
        }
    }
    return bitmap;
}

SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP info{};
    if (bitmap == nullptr || ::GetObjectA(bitmap, sizeof info, &info) == 0)
        return {0, 0};
    return {info.bmWidth, info.bmHeight};
}

SIZE ClientSize(HWND window)
{
    RECT client{};
    if (window == nullptr || !::GetClientRect(window, &client))
        return {0, 0};
    return {client.right - client.left, client.bottom - client.top};
}

RECT RectInParent(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    if (HWND parent = ::GetParent(window); parent != nullptr && (::GetWindowLongA(window, GWL_STYLE) & WS_CHILD))
        ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void MoveTo(HWND window, int x, int y)
{
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetClientSize(HWND window, int width, int height)
{
    RECT rect{0, 0, width, height};
    const auto style = static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE));
    const auto extended = static_cast<DWORD>(::GetWindowLongA(window, GWL_EXSTYLE));
    ::AdjustWindowRectEx(&rect, style, FALSE, extended);
    ::SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetTopmost(HWND window, bool topmost)
{
    ::SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

std::string WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    const int copied = ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

void SetText(HWND window, const std::string& text)
{
    ::SetWindowTextA(window, text.c_str());
}

} // namespace kzb::ui

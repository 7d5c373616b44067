#include "Window.h"

#include "Log.h"

#include <exception>

namespace kzb::ui {

namespace {

// Runs a message handler so that no exception crosses user32: what escapes is logged and
// the message gets the result given for a failure.
template <typename Result, typename Handle>
Result Guarded(const char* where, Result failed, Handle handle)
{
    try {
        return handle();
    } catch (const std::exception& error) {
        KZB_LOG(kzb::log::Error, "%s: %s", where, error.what());
    } catch (...) {
        KZB_LOG(kzb::log::Error, "%s: an unknown exception", where);
    }
    return failed;
}

// What a failed handler answers: a window whose creation threw is not created.
LRESULT FailedResult(UINT message)
{
    switch (message) {
    case WM_NCCREATE: return FALSE;
    case WM_CREATE: return -1;
    default: return 0;
    }
}

} // namespace

Window::~Window()
{
    if (m_window != nullptr) {
        ::SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        ::DestroyWindow(m_window);
    }
}

bool Window::CreateWindowOfClass(const char* className, const char* title, DWORD style, HWND parent, HMENU menu,
                                 HICON icon)
{
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!::GetClassInfoExA(Instance(), className, &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Window::Procedure;
        windowClass.hInstance = Instance();
        windowClass.hIcon = icon;
        windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = className;
        if (!::RegisterClassExA(&windowClass))
            return false;
    }
    return ::CreateWindowExA(0, className, title, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             parent, menu, Instance(), this) != nullptr;
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcA(m_window, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->m_window = window;
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcA(window, message, wParam, lParam);
    const LRESULT result = Guarded("Window message", FailedResult(message),
                                   [&] { return self->HandleMessage(message, wParam, lParam); });
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->m_window = nullptr;
    }
    return result;
}

Dialog::~Dialog()
{
    Destroy();
}

bool Dialog::Create(unsigned templateId, HWND parent)
{
    m_modal = false;
    return ::CreateDialogParamA(Instance(), MAKEINTRESOURCEA(templateId), parent, &Dialog::Procedure,
                                reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR Dialog::DoModal(unsigned templateId, HWND parent)
{
    m_modal = true;
    return ::DialogBoxParamA(Instance(), MAKEINTRESOURCEA(templateId), parent, &Dialog::Procedure,
                             reinterpret_cast<LPARAM>(this));
}

void Dialog::Destroy()
{
    if (m_window != nullptr && !m_modal) {
        HWND window = m_window;
        ::SetWindowLongPtrA(window, DWLP_USER, 0);
        m_window = nullptr;
        ::DestroyWindow(window);
    }
}

void Dialog::End(INT_PTR result)
{
    if (m_window != nullptr && m_modal)
        ::EndDialog(m_window, result);
}

void Dialog::Show(bool visible)
{
    if (m_window != nullptr)
        ::ShowWindow(m_window, visible ? SW_SHOWNA : SW_HIDE);
}

bool Dialog::PreTranslateMessage(MSG&)
{
    return false;
}

bool Dialog::IsEnterKey(const MSG& message) const
{
    return message.message == WM_KEYDOWN && message.wParam == VK_RETURN && m_window != nullptr &&
           (message.hwnd == m_window || ::IsChild(m_window, message.hwnd));
}

bool Dialog::OnCommand(int id, int, HWND)
{
    if (m_modal && (id == IDOK || id == IDCANCEL)) {
        End(id);
        return true;
    }
    return false;
}

INT_PTR Dialog::HandleMessage(UINT, WPARAM, LPARAM, bool& handled)
{
    handled = false;
    return 0;
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Dialog*>(lParam);
        self->m_window = window;
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    const bool initialising = message == WM_INITDIALOG;
    const INT_PTR result = Guarded("Dialog message", INT_PTR{-1}, [&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG:
            return self->OnInitDialog() ? TRUE : FALSE;
        case WM_COMMAND:
            return self->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
        case WM_NCDESTROY:
            self->m_window = nullptr;
            return FALSE;
        default: {
            bool handled = false;
            const INT_PTR handledResult = self->HandleMessage(message, wParam, lParam, handled);
            if (handled)
                ::SetWindowLongPtrA(window, DWLP_MSGRESULT, handledResult);
            return handled ? TRUE : FALSE;
        }
        }
    });
    if (result != -1)
        return result;
    // A dialog whose set-up threw is not shown half built.
    if (initialising) {
        if (self->m_modal)
            ::EndDialog(window, -1);
        else
            ::DestroyWindow(window);
    }
    return FALSE;
}

} // namespace kzb::ui

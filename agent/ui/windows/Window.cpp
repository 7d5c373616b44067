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
        AGENT_LOG(kzb::log::Error, "%s: %s", where, error.what());
    } catch (...) {
        AGENT_LOG(kzb::log::Error, "%s: an unknown exception", where);
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

// The part both procedures share: the object is bound to its window by the creation
// message (stored in the window's slot), found again for every later message, handed the
// message under Guarded, and unbound by WM_NCDESTROY. Without an object the system's
// default answers.
template <typename Object, typename Result, typename Handle, typename Default>
Result Dispatch(HWND window, UINT message, Object* created, int slot, const char* where, Result failed,
                Handle handle, Default unbound)
{
    if (created != nullptr) {
        created->m_window = window;
        ::SetWindowLongPtrA(window, slot, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<Object*>(::GetWindowLongPtrA(window, slot));
    if (self == nullptr)
        return unbound();
    const Result result = Guarded(where, failed, [&] { return handle(*self); });
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, slot, 0);
        self->m_window = nullptr;
    }
    return result;
}

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
    Window* created = message == WM_NCCREATE
                          ? static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams)
                          : nullptr;
    return Dispatch(
        window, message, created, GWLP_USERDATA, "Window message", FailedResult(message),
        [&](Window& self) { return self.HandleMessage(message, wParam, lParam); },
        [&] { return ::DefWindowProcA(window, message, wParam, lParam); });
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
    Dialog* created = message == WM_INITDIALOG ? reinterpret_cast<Dialog*>(lParam) : nullptr;
    const INT_PTR result = Dispatch(
        window, message, created, DWLP_USER, "Dialog message", INT_PTR{-1},
        [&](Dialog& self) { return self.Answer(message, wParam, lParam); }, [] { return INT_PTR{FALSE}; });
    if (result != -1)
        return result;
    // A dialog whose set-up threw is not shown half built.
    if (message == WM_INITDIALOG) {
        if (created->m_modal)
            ::EndDialog(window, -1);
        else
            ::DestroyWindow(window);
    }
    return FALSE;
}

INT_PTR Dialog::Answer(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (code == BN_CLICKED && OnButtonClicked(id))
            return TRUE;
        return OnCommand(id, code, reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    }
    case WM_NCDESTROY:
        return FALSE;
    default: {
        bool handled = false;
        const INT_PTR handledResult = HandleMessage(message, wParam, lParam, handled);
        if (handled)
            ::SetWindowLongPtrA(m_window, DWLP_MSGRESULT, handledResult);
        return handled ? TRUE : FALSE;
    }
    }
}

} // namespace kzb::ui

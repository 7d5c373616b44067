// The window classes' common base: one window procedure for the class, which finds the
// object (stored at WM_NCCREATE) and hands the message to it; no exception crosses into
// the system.
#pragma once

#include "Win32.h"

namespace kzb::ui {

class Window
{
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return m_window; }

protected:
    // Registers the class once per process and creates the window; false when it could not be made.
    bool CreateWindowOfClass(const char* className, const char* title, DWORD style, HWND parent, HMENU menu,
                             HICON icon);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    template <typename Object, typename Result, typename Handle, typename Default>
    friend Result Dispatch(HWND, UINT, Object*, int, const char*, Result, Handle, Default);
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
};

// A dialog made from a template, with one dialog procedure that forwards to the object.
class Dialog
{
public:
    Dialog() = default;
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // A modeless dialog; false when its window could not be made.
    bool Create(unsigned templateId, HWND parent);
    // A modal dialog; the button that ended it, or -1.
    INT_PTR DoModal(unsigned templateId, HWND parent);
    void Destroy();

    HWND Handle() const { return m_window; }
    HWND Item(int id) const { return ::GetDlgItem(m_window, id); }
    void Show(bool visible);
    bool IsVisible() const { return m_window != nullptr && ::IsWindowVisible(m_window); }

    // Called by the message loop for every message before it is dispatched; true when the
    // dialog took it.
    virtual bool PreTranslateMessage(MSG& message);

protected:
    virtual bool OnInitDialog() { return true; }
    // A button of the dialog clicked; true when handled (otherwise OnCommand has it).
    virtual bool OnButtonClicked(int) { return false; }
    // Any other WM_COMMAND; true when handled.
    virtual bool OnCommand(int id, int code, HWND control);
    // Any other message; set handled when it was.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // Closes a modal dialog.
    void End(INT_PTR result);
    // The Enter key pressed inside this dialog.
    bool IsEnterKey(const MSG& message) const;

private:
    template <typename Object, typename Result, typename Handle, typename Default>
    friend Result Dispatch(HWND, UINT, Object*, int, const char*, Result, Handle, Default);
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The message decoded for the virtual handlers; what the dialog procedure returns.
    INT_PTR Answer(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    bool m_modal = false;
};

} // namespace kzb::ui

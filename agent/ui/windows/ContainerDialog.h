// The small window the agent sees, holding the feature dialogs; its close box hides it.
#pragma once

#include "Window.h"

namespace kzb::ui {

// Told when the agent moves the container or closes it.
class ContainerListener
{
public:
    virtual void OnContainerMoved(int left, int top) = 0;
    virtual void OnContainerClosed() = 0;

protected:
    ~ContainerListener() = default;
};

class CDKADialog : public Dialog
{
public:
    explicit CDKADialog(ContainerListener& listener) : m_listener(listener) {}
    ~CDKADialog() override;

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    ContainerListener& m_listener;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
};

} // namespace kzb::ui

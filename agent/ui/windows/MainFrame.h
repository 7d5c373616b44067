// The program's hidden main window: it owns the recorder sessions (through the core), the
// notification-area icon and the container with the dialogs, saves the window settings and
// answers the tray menu's commands.
#pragma once

#include "ContainerDialog.h"
#include "FeatureDialogs.h"
#include "StatusDialogs.h"
#include "TrayIcon.h"
#include "Window.h"

#include "ui/MainFrameCore.h"
#include "ui/WindowSettings.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <type_traits>
#include <string>

namespace kzb::ui {

class ContainerLayout;

class CMainFrame : public Window, private ContainerListener
{
public:
    struct Options
    {
        NotificationArea* notificationArea = nullptr; // null: the shell's
        std::chrono::milliseconds trayRetryWait{10000};
    };

    explicit CMainFrame(const Options& options);
    ~CMainFrame() override;

    // Creates the window (and with it everything it owns); false when it could not be made.
    bool LoadFrame();
    // Its creation failed for a reason it has logged itself (no tray icon, no recorder).
    bool CreationRefused() const { return m_creationRefused; }
    // The message loop's filter: Enter in the dialogs, keyboard navigation in the container.
    bool PreTranslateMessage(MSG& message);

private:
    void OnContainerMoved(int left, int top) override;
    void OnContainerClosed() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCreate();
    void ReadSettings();
    bool CreateTrayIcon();
    void CreateContainer();
    template <typename Dialog>
    bool CreateChild(std::unique_ptr<Dialog>& dialog, const char* name);
    void OnCommand(UINT id);
    void OnStateChanged();
    void ShowCallState();
    void LayOut();
    void ScheduleDeadline();
    void UpdateTrayMenu(HMENU popup);
    void ApplyLogLevel(int level);
    void SaveSettings();
    void ShowContainer(bool show);
    void SetContainerTopmost();
    void PlaceRowPane(CFeatureDialog& dialog, ContainerLayout& layout, bool& changed);
    void ShowAbout();
    void OnDestroy();
    // Posts the frame a StateChanged message unless one is already on its way. Any thread.
    void PostStateChanged();

    Options m_options;
    NotificationArea m_shell;
    CTrayIcon m_trayIcon;
    std::unique_ptr<CDKADialog> m_container;
    std::unique_ptr<CAnnotationDialog> m_annotationDialog;
    std::unique_ptr<CManualSuppressionDialog> m_manualSuppressionDialog;
    std::unique_ptr<CRecordOnDemandDialog> m_recordOnDemandDialog;
    std::unique_ptr<CStatusImageDialog> m_statusImageDialog;
    std::unique_ptr<CStatusDialog> m_statusDialog;
    WindowSettings m_settings;
    UINT m_trayMenuMessage = 0;
    UINT m_taskbarCreatedMessage = 0;
    std::string m_title;
    bool m_aboutOpen = false;
    bool m_deadlineTimer = false;
    std::time_t m_deadlineAt = 0; // what the timer is set for
    bool m_creationRefused = false;
    bool m_closing = false; // no session is to be kept running: the frame is closing
    std::atomic<bool> m_stateChangePosted{false};
    // Carries the notice when the queue refuses the message.
    struct EventCloser
    {
        void operator()(HANDLE event) const { ::CloseHandle(event); }
    };
    std::unique_ptr<std::remove_pointer_t<HANDLE>, EventCloser> m_stateChangedEvent{
        ::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    // Last: the sessions go first, before the dialogs and the table they write.
    std::unique_ptr<CMainFrameCore> m_core;
};

} // namespace kzb::ui

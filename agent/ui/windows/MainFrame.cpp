#include "MainFrame.h"

#include "Application.h"
#include "Messages.h"
#include "KZBLogThis.h"

#include "Log.h"
#include "ui/ContainerLayout.h"
#include "ui/MessagePump.h"
#include "ui/Registry.h"
#include "ui/Strings.h"
#include "ui/resource.h"

#include <algorithm>
#include <ctime>
#include <thread>

namespace kzb::ui {

namespace {

constexpr const char* FrameClass = "KZBDKAMainFrame";
constexpr int TrayAttempts = 8;

struct LogLevelCommand
{
    UINT command;
    int level;
};
constexpr LogLevelCommand LogLevelCommands[] = {
    {ID_LOGLEVEL_ERRORS, 0}, {ID_LOGLEVEL_PRINT, 1}, {ID_LOGLEVEL_WARNINGS, 2},
    {ID_LOGLEVEL_MESSAGES, 3}, {ID_LOGLEVEL_INFORMATION, 4},
};

int CurrentLogLevel()
{
    return static_cast<int>(::LogLevel(kzb::logging::ThisModule()));
}

} // namespace

CMainFrame::CMainFrame(const Options& options)
    : m_options(options), m_trayIcon(options.notificationArea ? *options.notificationArea : m_shell)
{
}

CMainFrame::~CMainFrame()
{
    if (Handle() != nullptr)
        ::DestroyWindow(Handle());
}

bool CMainFrame::LoadFrame()
{
    HICON icon = static_cast<HICON>(::LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 0, 0,
                                                 LR_DEFAULTSIZE));
    HMENU menu = ::LoadMenuA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    if (menu == nullptr)
        return false;
    if (!CreateWindowOfClass(FrameClass, strings::ProductName, WS_OVERLAPPEDWINDOW, nullptr,
                             menu, icon)) {
        ::DestroyMenu(menu);
        return false;
    }
    return true;
}

bool CMainFrame::PreTranslateMessage(MSG& message)
{
    if (m_annotationDialog && m_annotationDialog->PreTranslateMessage(message))
        return true;
    if (m_statusDialog && m_statusDialog->PreTranslateMessage(message))
        return true;
    return m_container && m_container->Handle() != nullptr && ::IsDialogMessageA(m_container->Handle(), &message);
}

LRESULT CMainFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (OnCreate())
            return 0;
        m_creationRefused = true;
        return -1;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case message::TrayIcon:
        return m_trayIcon.OnNotification(wParam, lParam);
    case message::StateChanged:
        OnStateChanged();
        return 0;
    case WM_TIMER:
        if (wParam == ID_MAINFRAME_TIMER) {
            ::KillTimer(Handle(), ID_MAINFRAME_TIMER);
            m_deadlineTimer = false;
            OnStateChanged();
        } else if (wParam == ID_SUPERVISION_TIMER) {
            ::KillTimer(Handle(), ID_SUPERVISION_TIMER);
            OnStateChanged();
        }
        return 0;
    case WM_DESTROY:
        OnDestroy();
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    if (message == m_trayMenuMessage && m_trayMenuMessage != 0) {
        UpdateTrayMenu(reinterpret_cast<HMENU>(lParam));
        return 0;
    }
    if (message == m_taskbarCreatedMessage && m_taskbarCreatedMessage != 0) {
        // The icon comes back with the call state it showed, not the bare program name.
        if (m_trayIcon.Create(m_title.empty() ? std::string(strings::ProductName) : m_title, Handle()))
            m_trayIcon.SetIcon();
        else
            AGENT_LOG(kzb::log::Error, "Failed to create tray icon after receiving TaskbarCreated message!!!!\n");
        return 0;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

void CMainFrame::ReadSettings()
{
    CRegistry registry;
    m_settings = WindowSettings::Read(registry);
    RECT desktop{};
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    m_settings.KeepOnDesktop({desktop.left, desktop.top, desktop.right, desktop.bottom});
}

bool CMainFrame::CreateTrayIcon()
{
    const std::string tooltip = strings::ProductName;
    for (int attempt = 1; !m_trayIcon.Create(tooltip, Handle()); ++attempt) {
        if (attempt == TrayAttempts) {
            AGENT_LOG(kzb::log::Error, "OnCreate() - Failed to create tray icon after %d attempts - Terminating application",
                    TrayAttempts);
            ::MessageBoxA(nullptr, strings::FailedToStart, tooltip.c_str(), MB_OK | MB_ICONERROR);
            return false;
        }
        AGENT_LOG(kzb::log::Error, "OnCreate() - Failed to create tray icon (Attempt %d)\n", attempt);
        std::this_thread::sleep_for(m_options.trayRetryWait);
    }
    AGENT_LOG(kzb::log::Info, "Successfully created tray icon");
    m_trayIcon.SetIcon();
    m_trayIcon.SetMenuMessage(m_trayMenuMessage);
    return true;
}

template <typename Child>
bool CMainFrame::CreateChild(std::unique_ptr<Child>& dialog, const char* name)
{
    if (!dialog) {
        AGENT_LOG(kzb::log::Error, "Failed to create %s object\n", name);
        return false;
    }
    if (!dialog->Create(m_container->Handle())) {
        AGENT_LOG(kzb::log::Error, "%s create() failed\n", name);
        dialog.reset();
        return false;
    }
    ProcessWaitingMessages();
    MoveTo(dialog->Handle(), 0, 0);
    dialog->Show(false);
    return true;
}

void CMainFrame::CreateContainer()
{
    m_container = std::make_unique<CDKADialog>(static_cast<ContainerListener&>(*this));
    if (!m_container->Create(IDD_DKADIALOG, Handle())) {
        AGENT_LOG(kzb::log::Error, "CDKADialog create() failed\n");
        m_container.reset();
        return;
    }
    ProcessWaitingMessages();
    MoveTo(m_container->Handle(), m_settings.windowLeft, m_settings.windowTop);
    SetContainerTopmost();
    m_container->Show(false);

    RecorderStatusTable& table = m_core->GetStatusTable();
    m_annotationDialog = std::make_unique<CAnnotationDialog>(*m_core->GetAnnotationDialog());
    CreateChild(m_annotationDialog, "CAnnotationDialog");
    m_statusImageDialog = std::make_unique<CStatusImageDialog>(&table);
    CreateChild(m_statusImageDialog, "CStatusImageDialog");
    m_manualSuppressionDialog = std::make_unique<CManualSuppressionDialog>(*m_core->GetManualSuppressionDialog());
    CreateChild(m_manualSuppressionDialog, "CManualSuppressionDialog");
    m_recordOnDemandDialog = std::make_unique<CRecordOnDemandDialog>(*m_core->GetRecordOnDemandDialog());
    CreateChild(m_recordOnDemandDialog, "CRecordOnDemandDialog");
    m_statusDialog = std::make_unique<CStatusDialog>(m_settings.autoSuppressionMessages);
    CreateChild(m_statusDialog, "CStatusDialog");
}

bool CMainFrame::OnCreate()
{
    m_core = std::make_unique<CMainFrameCore>();
    m_trayMenuMessage = ::RegisterWindowMessageW(message::TrayMenuOpening);
    m_taskbarCreatedMessage = ::RegisterWindowMessageW(message::TaskbarCreated);
    ReadSettings();
    if (!CreateTrayIcon())
        return false;
    CreateContainer();
    if (!m_annotationDialog && !m_settings.showWindow) {
        ShowContainer(false);
        m_trayIcon.Remove();
    }

    if (!m_core->Start(ReadRecorderSettings()))
        return false;
    // From here on the sessions' changes reach the window by a posted message.
    WatchEvent(m_stateChangedEvent.get(), [this] { OnStateChanged(); });
    m_core->SetChangeListener([this] { PostStateChanged(); });
    PostStateChanged();
    return true;
}

void CMainFrame::PostStateChanged()
{
    if (m_stateChangePosted.exchange(true))
        return; // on its way already
    // A full queue refuses the message; the event then carries the notice, so that no update,
    // supervision step or self-close is ever lost.
    if (!::PostMessageA(Handle(), message::StateChanged, 0, 0))
        ::SetEvent(m_stateChangedEvent.get());
}

void CMainFrame::OnStateChanged()
{
    m_stateChangePosted = false;
    if (m_closing)
        return;
    if (!m_core->Supervise()) {
        m_closing = true;
        ::PostMessageA(Handle(), WM_CLOSE, 0, 0);
        return;
    }
    // A session that could not be started again is tried again as the supervision tick would.
    if (m_core->RestartPending())
        ::SetTimer(Handle(), ID_SUPERVISION_TIMER, 100, nullptr);
    ShowCallState();
    LayOut();
    ScheduleDeadline();
}

void CMainFrame::ShowCallState()
{
    RecorderStatusTable& table = m_core->GetStatusTable();
    const std::string title = BuildStatusTitle(table);
    if (title != m_title) {
        m_title = title;
        m_trayIcon.SetTooltip(title);
        if (m_container)
            SetText(m_container->Handle(), title);
    }
    if (m_statusImageDialog)
        m_statusImageDialog->UpdateImage();
    if (m_recordOnDemandDialog)
        m_recordOnDemandDialog->UpdateStateText();
    if (m_statusDialog)
        m_statusDialog->SetReportDelay(table.SmallestStateTimeout());
}

void CMainFrame::LayOut()
{
    if (!m_container)
        return;
    bool changed = false;
    ContainerLayout layout;

    if (m_annotationDialog) {
        const bool updated = m_annotationDialog->UpdateLayout();
        changed = changed || updated;
        if (m_annotationDialog->Visible()) {
            if (updated) {
                MoveTo(m_annotationDialog->Handle(), 0, 0);
                m_annotationDialog->Show(true);
            }
            const SIZE size = ClientSize(m_annotationDialog->Handle());
            layout.AddAnnotation({size.cx, size.cy});
        } else if (updated) {
            m_annotationDialog->Show(false);
        }
    }

    for (CFeatureDialog* dialog : {static_cast<CFeatureDialog*>(m_statusImageDialog.get()),
                                   static_cast<CFeatureDialog*>(m_manualSuppressionDialog.get()),
                                   static_cast<CFeatureDialog*>(m_recordOnDemandDialog.get())}) {
        if (dialog != nullptr)
            PlaceRowPane(*dialog, layout, changed);
    }

    if (m_statusDialog) {
        if (m_statusDialog->UpdateStatus(m_core->GetStatusTable(), m_core->GetUpdateMode(), std::time(nullptr))) {
            changed = true;
            m_statusDialog->Show(m_statusDialog->HasText());
        }
        const PanePlace place = layout.StatusPlace();
        MoveTo(m_statusDialog->Handle(), place.x, place.y);
        if (changed && m_statusDialog->HasText()) {
            const SIZE size = ClientSize(m_statusDialog->Handle());
            layout.AddStatus({size.cx, size.cy});
        }
    }
    if (!changed)
        return;

    const PaneSize client = layout.ClientSize();
    if (client.width != 0 && client.height != 0) {
        SetClientSize(m_container->Handle(), client.width, client.height);
        SetContainerTopmost();
        if (m_settings.showWindow)
            ShowContainer(true);
        if (m_trayIcon.IsCreated() && m_trayIcon.IsRemoved())
            m_trayIcon.Restore();
    } else {
        ShowContainer(false);
        if (m_trayIcon.IsCreated() && !m_trayIcon.IsRemoved())
            m_trayIcon.Remove();
    }
}

// One pane of the feature row: laid out again when what it shows changed, moved to its
// place in the row (again when the agent's container is shown and it stands elsewhere).
void CMainFrame::PlaceRowPane(CFeatureDialog& dialog, ContainerLayout& layout, bool& changed)
{
    const bool updated = dialog.UpdateLayout();
    changed = changed || updated;
    if (!dialog.Visible()) {
        if (updated)
            dialog.Show(false);
        return;
    }
    const SIZE size = ClientSize(dialog.Handle());
    const PanePlace place = layout.AddToRow({size.cx, size.cy});
    if (updated) {
        MoveTo(dialog.Handle(), place.x, place.y);
        dialog.Show(true);
    } else if (m_settings.showWindow) {
        const RECT now = RectInParent(dialog.Handle());
        if (now.left != place.x || now.top != place.y)
            MoveTo(dialog.Handle(), place.x, place.y);
    }
}

void CMainFrame::ScheduleDeadline()
{
    if (!m_statusDialog)
        return;
    const std::time_t now = std::time(nullptr);
    const std::time_t deadline = m_statusDialog->NextDeadline(now);
    // A timer set for a later deadline is set again for a nearer one.
    if (deadline == 0 || (m_deadlineTimer && deadline >= m_deadlineAt))
        return;
    m_deadlineAt = deadline;
    // The message is due at the first look later than the deadline, in whole seconds.
    const auto wait = std::chrono::seconds(deadline - now + 1);
    ::SetTimer(Handle(), ID_MAINFRAME_TIMER, static_cast<UINT>(std::chrono::milliseconds(wait).count()), nullptr);
    m_deadlineTimer = true;
}

void CMainFrame::ShowContainer(bool show)
{
    if (!m_container)
        return;
    ::ShowWindow(m_container->Handle(), show ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void CMainFrame::SetContainerTopmost()
{
    if (m_container)
        SetTopmost(m_container->Handle(), m_settings.alwaysOnTop);
}

void CMainFrame::OnCommand(UINT id)
{
    switch (id) {
    case ID_SHOW_HIDE_WINDOW:
        m_settings.showWindow = !m_settings.showWindow;
        if (m_container) {
            ::ShowWindow(m_container->Handle(), m_settings.showWindow ? SW_RESTORE : SW_HIDE);
            if (m_settings.showWindow)
                SetContainerTopmost();
        }
        SaveSettings();
        return;
    case ID_ALWAYS_ON_TOP:
        if (m_settings.showWindow && m_container)
            ::ShowWindow(m_container->Handle(), SW_RESTORE);
        m_settings.alwaysOnTop = !m_settings.alwaysOnTop;
        SetContainerTopmost();
        SaveSettings();
        return;
    case ID_APP_ABOUT:
        ShowAbout();
        return;
    case ID_APP_EXIT:
        ::PostMessageA(Handle(), WM_CLOSE, 0, 0);
        return;
    default:
        break;
    }
    for (const LogLevelCommand& command : LogLevelCommands) {
        if (command.command == id) {
            ApplyLogLevel(command.level);
            return;
        }
    }
}

void CMainFrame::ApplyLogLevel(int level)
{
    ::SetLogLevel(level, kzb::logging::ThisModule());
    SaveSettings();
}

void CMainFrame::UpdateTrayMenu(HMENU popup)
{
    if (popup == nullptr)
        return;
    auto check = [popup](UINT id, bool checked) {
        ::CheckMenuItem(popup, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    };
    check(ID_SHOW_HIDE_WINDOW, m_settings.showWindow);
    check(ID_ALWAYS_ON_TOP, m_settings.alwaysOnTop);
    const int level = CurrentLogLevel();
    for (const LogLevelCommand& command : LogLevelCommands)
        check(command.command, command.level == level);
}

void CMainFrame::SaveSettings()
{
    CRegistry registry;
    m_settings.Save(registry, CurrentLogLevel());
}

void CMainFrame::OnContainerMoved(int left, int top)
{
    m_settings.windowLeft = left;
    m_settings.windowTop = top;
    SaveSettings();
}

void CMainFrame::OnContainerClosed()
{
    m_settings.showWindow = false;
    SaveSettings();
}

void CMainFrame::ShowAbout()
{
    if (m_aboutOpen)
        return;
    m_aboutOpen = true;
    CAboutDlg about;
    about.DoModal(IDD_ABOUTBOX, Handle());
    m_aboutOpen = false;
}

void CMainFrame::OnDestroy()
{
    if (m_deadlineTimer)
        ::KillTimer(Handle(), ID_MAINFRAME_TIMER);
    m_deadlineTimer = false;
    ::KillTimer(Handle(), ID_SUPERVISION_TIMER);
    if (m_core) {
        m_core->SetChangeListener(nullptr);
        m_core->Shutdown();
    }
    UnwatchEvent(m_stateChangedEvent.get());
    m_annotationDialog.reset();
    m_manualSuppressionDialog.reset();
    m_recordOnDemandDialog.reset();
    m_statusImageDialog.reset();
    m_statusDialog.reset();
    m_container.reset();
}

} // namespace kzb::ui

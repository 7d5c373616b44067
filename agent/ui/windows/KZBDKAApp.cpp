#include "KZBDKAApp.h"

#include "Log.h"
#include "comms/Net.h"
#include "ui/MessagePump.h"
#include "ui/ProgramLogging.h"

#include <cstdlib>
#include <string>

namespace kzb::ui {

namespace {

#ifdef KZBDKA_TEST_SEAMS
// Only in the test build of the program (KZBDKA-test.exe): a notification area that never
// takes the icon, and a shorter wait between attempts. The shipped program has neither.
class RefusingNotificationArea : public NotificationArea
{
public:
    bool Notify(DWORD action, NOTIFYICONDATAA& data) override
    {
        return action == NIM_ADD ? false : NotificationArea::Notify(action, data);
    }
};

const char* Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}
#endif

} // namespace

CKZBDKAApp::CKZBDKAApp()
{
    StartProgramLogging(FindLogFolder());
    // The pages the browser extension reports are browser windows after the desktop's own.
    auto pages = std::make_shared<kzb::inspection::PageSource>();
    kzb::inspection::SetDesktop(
        std::make_shared<kzb::inspection::BrowserPagesDesktop>(kzb::inspection::CreateSystemDesktop(), pages));
    m_pageServer = kzb::inspection::ServeBrowserPages(pages);
}

CKZBDKAApp::~CKZBDKAApp()
{
    m_mainFrame.reset();
    m_pageServer.reset();
    StopProgramLogging();
}

CMainFrame::Options CKZBDKAApp::FrameOptions()
{
    CMainFrame::Options options;
#ifdef KZBDKA_TEST_SEAMS
    if (const char* wait = Environment("KZBDKA_TEST_TRAY_RETRY_MS"))
        options.trayRetryWait = std::chrono::milliseconds(std::strtoul(wait, nullptr, 10));
    if (Environment("KZBDKA_TEST_TRAY_REFUSED")) {
        m_testArea = std::make_unique<RefusingNotificationArea>();
        options.notificationArea = m_testArea.get();
    }
#endif
    return options;
}

bool CKZBDKAApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    if (kzb::net::StartUp() != 0) {
        AGENT_LOG(kzb::log::Error, "WSAStartup Failed!!!\n");
        return false;
    }
    m_socketsStarted = true;
    m_mainFrame = std::make_unique<CMainFrame>(FrameOptions());
    if (!m_mainFrame->LoadFrame()) {
        if (!m_mainFrame->CreationRefused())
            AGENT_LOG(kzb::log::Error, "The main window could not be created (error %lu); no desktop to show it on?",
                    ::GetLastError());
        m_mainFrame.reset();
        return false;
    }
    ::ShowWindow(m_mainFrame->Handle(), SW_HIDE);
    ProcessWaitingMessages();
    ::UpdateWindow(m_mainFrame->Handle());
    ProcessWaitingMessages();
    return true;
}

int CKZBDKAApp::ExitInstance()
{
    m_mainFrame.reset();
    if (m_socketsStarted)
        kzb::net::CleanUp();
    m_socketsStarted = false;
    return Application::ExitInstance();
}

bool CKZBDKAApp::PreTranslateMessage(MSG& message)
{
    return m_mainFrame && m_mainFrame->PreTranslateMessage(message);
}

} // namespace kzb::ui

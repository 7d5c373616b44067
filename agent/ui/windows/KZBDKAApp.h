// The application object of KZBDKA.exe: logging from its construction to its destruction,
// the sockets layer and the hidden main frame in between.
#pragma once

#include "Application.h"
#include "MainFrame.h"
#include "inspection/PageSource.h"

#include <memory>

namespace kzb::ui {

class CKZBDKAApp : public Application
{
public:
    // Chooses the log folder, sets up the program's logger and writes the first lines.
    CKZBDKAApp();
    // Writes out what is still queued and stops the logger.
    ~CKZBDKAApp() override;

    bool InitInstance() override;
    int ExitInstance() override;

protected:
    bool PreTranslateMessage(MSG& message) override;

private:
    // How the frame is made: the shell's notification area and the 10 s between tray icon
    // attempts; in the test build, the environment may ask otherwise.
    CMainFrame::Options FrameOptions();

    // Chrome and Edge pages, as the browser extension reports them.
    std::unique_ptr<kzb::inspection::PageSourceServer> m_pageServer;
    bool m_socketsStarted = false;
    std::unique_ptr<NotificationArea> m_testArea;
    std::unique_ptr<CMainFrame> m_mainFrame;
};

} // namespace kzb::ui

#pragma once

// Internet Explorer pages: stand-alone IE frames and IE frames hosted in Chrome windows.

#include "Desktop.h"
#include "Library_win.h"

#include <windows.h>
#include <mshtml.h>
#include <wrl/client.h>

namespace kzb::inspection {

inline HWND ToHandle(WindowId window)
{
    return reinterpret_cast<HWND>(window);
}

inline WindowId ToId(HWND window)
{
    return reinterpret_cast<WindowId>(window);
}

// The next window of the class after `after` among parent's children (parent null: the
// top-level windows); null when there are no more. Throws SystemError "Failed to find window
// of class '<class>'" when the system fails.
HWND FindNextWindow(HWND parent, HWND after, const char* className);

// Every "IEFrame" window, then the "IEFrame" windows that Chrome windows host.
class IEWindowFinder : public BrowserWindowFinder
{
public:
    bool FindBrowserWindows(const WindowVisitor& found) override;
};

// The page of one IE frame window, read over the browser's document object.
class IEHTMLViewer : public BrowserHTMLViewer
{
public:
    // Finds the page's server window and asks it for its document; a frame without one has
    // no document. Throws SystemError when the browser cannot be asked.
    IEHTMLViewer(HWND frame, const ActiveAccessibilityLibrary& library);

    std::string GetDomain() override;
    std::string GetHTMLBody() override;
    std::string GetTitle() override;
    std::string GetURL() override;

private:
    Microsoft::WRL::ComPtr<IHTMLDocument2> m_document;
};

} // namespace kzb::inspection

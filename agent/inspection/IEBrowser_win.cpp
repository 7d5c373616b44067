#include "IEBrowser_win.h"

#include "ComSupport_win.h"
#include "PageReader.h"

#include <exdisp.h>
#include <oleidl.h>

#include <algorithm>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace kzb::inspection {

namespace {

const std::string Hashes(64, '#');
const std::string BodyMarker = "\r\n" + Hashes + " - Body\r\n";
const std::string EmbeddedMarker = "\r\n" + Hashes + " - Embedded Documents\r\n";

constexpr UINT GetObjectTimeoutMs = 1000;

// A text property; empty when it cannot be read.
template <typename Get>
std::string ReadText(Get get)
{
    Bstr text;
    if (FAILED(get(text.Out())))
        return {};
    return text.ToAnsi();
}

std::string Body(IHTMLDocument2* document, std::vector<IUnknown*>& path);

// The bodies of the browsers that the document's container lists as embeddings.
std::string Embedded(IHTMLDocument2* document, std::vector<IUnknown*>& path)
{
    ComPtr<IOleContainer> container;
    ComPtr<IEnumUnknown> objects;
    if (FAILED(document->QueryInterface(IID_PPV_ARGS(&container))) ||
        FAILED(container->EnumObjects(OLECONTF_EMBEDDINGS, &objects)) || !objects || FAILED(objects->Reset()))
        return {};
    std::string text;
    for (;;) {
        ComPtr<IUnknown> object;
        ULONG fetched = 0;
        if (objects->Next(1, object.ReleaseAndGetAddressOf(), &fetched) != S_OK || fetched != 1 || !object)
            break;
        ComPtr<IWebBrowser2> browser;
        ComPtr<IHTMLElement> element;
        ComPtr<IDispatch> dispatch;
        ComPtr<IHTMLDocument2> frame;
        if (FAILED(object.As(&browser)) || FAILED(object.As(&element)) || FAILED(browser->get_Document(&dispatch)) ||
            !dispatch || FAILED(dispatch.As(&frame)))
            continue;
        text += Body(frame.Get(), path);
    }
    return text;
}

// The document's body, then its embedded documents' bodies, each between marker lines.
std::string Body(IHTMLDocument2* document, std::vector<IUnknown*>& path)
{
    // path holds the documents this one is embedded in: one that contains itself would
    // never end.
    ComPtr<IUnknown> identity;
    document->QueryInterface(IID_PPV_ARGS(&identity));
    if (identity && std::find(path.begin(), path.end(), identity.Get()) != path.end())
        return {};
    if (identity)
        path.push_back(identity.Get());

    std::string text = BodyMarker;
    ComPtr<IHTMLElement> body;
    if (SUCCEEDED(document->get_body(&body)) && body)
        text += ReadText([&](BSTR* html) { return body->get_innerHTML(html); });
    text += EmbeddedMarker;
    text += Embedded(document, path);

    if (identity)
        path.pop_back();
    return text;
}

} // namespace

HWND FindNextWindow(HWND parent, HWND after, const char* className)
{
    // A code left over from an earlier call is not a failure of this one.
    ::SetLastError(ERROR_SUCCESS);
    const HWND window = ::FindWindowExA(parent, after, className, nullptr);
    if (window == nullptr) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND)
            ThrowSystemError(code, "Failed to find window of class '" + std::string(className) + "'");
    }
    return window;
}

bool IEWindowFinder::FindBrowserWindows(const WindowVisitor& found)
{
    for (HWND frame = FindNextWindow(nullptr, nullptr, "IEFrame"); frame;
         frame = FindNextWindow(nullptr, frame, "IEFrame")) {
        if (found(ToId(frame)))
            return true;
    }
    for (HWND chrome = FindNextWindow(nullptr, nullptr, "Chrome_WidgetWin_1"); chrome;
         chrome = FindNextWindow(nullptr, chrome, "Chrome_WidgetWin_1")) {
        const HWND host = FindNextWindow(chrome, nullptr, "Chrome_WidgetWin_2");
        if (host == nullptr)
            continue;
        for (HWND frame = FindNextWindow(host, nullptr, "IEFrame"); frame;
             frame = FindNextWindow(host, frame, "IEFrame")) {
            if (found(ToId(frame)))
                return true;
        }
    }
    return false;
}

IEHTMLViewer::IEHTMLViewer(HWND frame, const ActiveAccessibilityLibrary& library)
{
    // Only the first tab is looked at.
    HWND tab = FindNextWindow(frame, nullptr, "TabWindowClass");
    if (tab == nullptr) {
        if (const HWND frameTab = FindNextWindow(frame, nullptr, "Frame Tab"))
            tab = FindNextWindow(frameTab, nullptr, "TabWindowClass");
    }
    const HWND view = tab ? FindNextWindow(tab, nullptr, "Shell DocObject View") : nullptr;
    const HWND server = view ? FindNextWindow(view, nullptr, "Internet Explorer_Server") : nullptr;
    if (server == nullptr)
        return;

    const UINT message = ::RegisterWindowMessageW(L"WM_HTML_GETOBJECT");
    if (message == 0)
        ThrowLastError("Failed to register window message 'WM_HTML_GETOBJECT'");
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(server, message, 0, 0, SMTO_ABORTIFHUNG, GetObjectTimeoutMs, &result) == 0) {
        // A browser that is busy or hung is not a failure of ours: it may answer later.
        const DWORD code = ::GetLastError();
        if (code == ERROR_TIMEOUT || code == WAIT_TIMEOUT || code == ERROR_SUCCESS)
            throw PageNotAnswering("The browser did not answer 'WM_HTML_GETOBJECT' in time");
        ThrowSystemError(code, "Failed to send window message 'WM_HTML_GETOBJECT'");
    }
    library.ObjectFromLresult(static_cast<LRESULT>(result), __uuidof(IHTMLDocument2), 0,
                              reinterpret_cast<void**>(m_document.GetAddressOf()));
}

std::string IEHTMLViewer::GetDomain()
{
    return m_document ? ReadText([&](BSTR* text) { return m_document->get_domain(text); }) : std::string();
}

std::string IEHTMLViewer::GetHTMLBody()
{
    if (!m_document)
        return {};
    std::vector<IUnknown*> path;
    return Body(m_document.Get(), path);
}

std::string IEHTMLViewer::GetTitle()
{
    return m_document ? ReadText([&](BSTR* text) { return m_document->get_title(text); }) : std::string();
}

std::string IEHTMLViewer::GetURL()
{
    return m_document ? ReadText([&](BSTR* text) { return m_document->get_URL(text); }) : std::string();
}

} // namespace kzb::inspection

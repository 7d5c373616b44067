// A stand-in for Internet Explorer. It makes the window trees of IE frames (on their own or
// hosted in a Chrome-classed window), and each frame's "Internet Explorer_Server" window
// answers "WM_HTML_GETOBJECT" with a document object of this program's own: title, URL,
// domain and body, and an OLE container that lists an embedded browser when the page has a
// frame.
//
//     ie_browser_app
//
// Commands come on standard input, one a line, the fields separated by tabs; each is
// answered on standard output with "ok <command>" once it is done (or "error <why>"), so a
// test can wait for it:
//
//     frame <name> <kind>   a frame window titled <name> with a blank page; kind: ie (IEFrame > TabWindowClass
//                           > Shell DocObject View > Internet Explorer_Server), frametab (the
//                           tab inside "Frame Tab"), chrome (Chrome_WidgetWin_1 >
//                           Chrome_WidgetWin_2 > the ie tree), noserver (the ie tree without
//                           its server window), chromeonly (a Chrome_WidgetWin_1 alone)
//     navigate <name> <title> <url> <domain> <body> [<frame body>...]
//                           the page the frame shows; each further body is that of a frame
//                           embedded in the document before it; a frame body "^" alone is a
//                           frame that shows the page itself again
//     close <name>          the frame goes
//     stall                 stops answering messages until "resume" comes
//     hang                  the documents' getters stop answering until "resume" comes (the
//                           window still answers "WM_HTML_GETOBJECT")
//     resume
//
// The program exits when its input ends. Its COM objects (StandInPage_win.h) live in the
// multithreaded apartment, so they answer while the window thread stalls.
#include "StandInPage_win.h"

#include <windows.h>
#include <ole2.h>
#include <exdisp.h>
#include <mshtml.h>
#include <oleacc.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <iterator>
#include <map>
#include <string>
#include <vector>

using namespace standin;

namespace {

// ---------------------------------------------------------------- windows and commands

// Keeps the interfaces of a page marshalled while it is shown, so that their stubs are built
// once and not on every request (under Wine each one is built from the type library, which
// would otherwise make "WM_HTML_GETOBJECT" slow to answer).
class Pins
{
public:
    ~Pins() { Clear(); }

    void Page(Document* document)
    {
        for (; document && std::find(m_seen.begin(), m_seen.end(), document) == m_seen.end();
             document = document->frame ? document->frame->document : nullptr) {
            m_seen.push_back(document);
            Pin(AsUnknown(document), IID_IHTMLDocument2);
            Pin(AsUnknown(document), IID_IDispatch);
            Pin(AsUnknown(document), IID_IOleContainer);
            if (document->body)
                Pin(AsUnknown(document->body), IID_IHTMLElement);
            if (document->frame) {
                Pin(AsUnknown(document->frame), IID_IUnknown);
                Pin(AsUnknown(document->frame), IID_IWebBrowser2);
                Pin(AsUnknown(document->frame), IID_IHTMLElement);
            }
        }
    }

    void Clear()
    {
        for (IStream* stream : m_streams) {
            const LARGE_INTEGER start = {};
            IStream_Seek(stream, start, STREAM_SEEK_SET, nullptr);
            CoReleaseMarshalData(stream);
            IStream_Release(stream);
        }
        m_streams.clear();
        m_seen.clear();
    }

private:
    void Pin(IUnknown* object, REFIID iid)
    {
        IStream* stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
            return;
        if (SUCCEEDED(CoMarshalInterface(stream, iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG)))
            m_streams.push_back(stream);
        else
            IStream_Release(stream);
    }

    std::vector<IStream*> m_streams;
    std::vector<Document*> m_seen;
};

struct Frame
{
    HWND top = nullptr;
    HWND server = nullptr;
    Document* page = nullptr;
    std::shared_ptr<Pins> pins = std::make_shared<Pins>();
};

std::map<std::wstring, Frame> g_frames;
UINT g_getObject = 0;
HANDLE g_resume = nullptr;
std::atomic<bool> g_stalled{false};
DWORD g_windowThread = 0;
constexpr UINT CommandMessage = WM_APP + 1;

void Say(const std::string& line)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    FlushFileBuffers(output);
}

std::wstring Wide(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

LRESULT CALLBACK ServerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == g_getObject && g_getObject != 0) {
        const auto* frame = reinterpret_cast<const Frame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (frame == nullptr || frame->page == nullptr)
            return 0;
        return LresultFromObject(IID_IHTMLDocument2, wParam, AsUnknown(frame->page));
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterClasses(HINSTANCE instance)
{
    const wchar_t* plain[] = {L"IEFrame", L"Frame Tab", L"TabWindowClass", L"Shell DocObject View",
                              L"Chrome_WidgetWin_1", L"Chrome_WidgetWin_2"};
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.hInstance = instance;
    windowClass.lpfnWndProc = DefWindowProcW;
    for (const wchar_t* name : plain) {
        windowClass.lpszClassName = name;
        if (RegisterClassExW(&windowClass) == 0)
            return false;
    }
    windowClass.lpfnWndProc = ServerProc;
    windowClass.lpszClassName = L"Internet Explorer_Server";
    return RegisterClassExW(&windowClass) != 0;
}

HWND Make(HWND parent, const wchar_t* className, const std::wstring& title)
{
    const DWORD style = parent ? WS_CHILD : WS_OVERLAPPEDWINDOW;
    return CreateWindowExW(0, className, title.c_str(), style, 0, 0, 300, 200, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

std::string MakeFrame(const std::wstring& name, const std::string& kind)
{
    if (g_frames.count(name))
        return "error frame exists";
    Frame frame;
    HWND ieFrame = nullptr;
    if (kind == "chrome" || kind == "chromeonly") {
        frame.top = Make(nullptr, L"Chrome_WidgetWin_1", name);
        if (kind == "chrome")
            ieFrame = Make(Make(frame.top, L"Chrome_WidgetWin_2", L""), L"IEFrame", name);
    } else if (kind == "ie" || kind == "frametab" || kind == "noserver") {
        frame.top = ieFrame = Make(nullptr, L"IEFrame", name);
    } else {
        return "error unknown kind";
    }
    if (ieFrame) {
        const HWND tabParent = kind == "frametab" ? Make(ieFrame, L"Frame Tab", L"") : ieFrame;
        const HWND view = Make(Make(tabParent, L"TabWindowClass", L""), L"Shell DocObject View", L"");
        if (kind != "noserver")
            frame.server = Make(view, L"Internet Explorer_Server", L"");
    }
    if (frame.top == nullptr)
        return "error CreateWindowEx";
    frame.page = MakePage(L"", L"", L"", {L""}); // a blank page until the first navigate
    frame.pins->Page(frame.page);
    Frame& kept = g_frames[name] = frame;
    if (kept.server)
        SetWindowLongPtrW(kept.server, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&kept));
    return "ok frame";
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

void Run(const std::string& line)
{
    const std::vector<std::string> fields = Fields(line);
    const std::string& command = fields[0];
    if (command == "stall") {
        g_stalled = true;
        Say("ok stall");
        WaitForSingleObject(g_resume, INFINITE);
        g_stalled = false;
        Say("ok resume");
        return;
    }
    if (fields.size() < 2) {
        Say("error " + command + ": what?");
        return;
    }
    const std::wstring name = Wide(fields[1]);
    if (command == "frame" && fields.size() == 3) {
        Say(MakeFrame(name, fields[2]));
        return;
    }
    const auto found = g_frames.find(name);
    if (found == g_frames.end()) {
        Say("error no frame " + fields[1]);
        return;
    }
    Frame& frame = found->second;
    if (command == "navigate" && fields.size() >= 6) {
        std::vector<std::wstring> bodies;
        for (auto field = fields.begin() + 5; field != fields.end(); ++field)
            bodies.push_back(Wide(*field));
        const bool itself = bodies.size() == 2 && bodies[1] == L"^";
        if (itself)
            bodies.pop_back();
        Document* page = MakePage(Wide(fields[2]), Wide(fields[3]), Wide(fields[4]), bodies);
        if (itself) {
            AddRefObject(page); // a cycle: this page lives as long as the process
            page->frame = new Element(L"", page);
        }
        frame.pins->Clear();
        if (frame.page)
            ReleaseObject(frame.page);
        frame.page = page;
        frame.pins->Page(page);
        Say("ok navigate");
    } else if (command == "close") {
        DestroyWindow(frame.top);
        frame.pins->Clear();
        if (frame.page)
            ReleaseObject(frame.page);
        g_frames.erase(found);
        Say("ok close");
    } else {
        Say("error unknown command " + command);
    }
}

// Reads the commands and hands them to the window thread; "resume" it handles itself,
// since the window thread is then waiting for it.
DWORD WINAPI ReadCommands(void*)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(input, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        pending.append(buffer, read);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line == "resume") {
                SetEvent(g_answering);
                if (g_stalled)
                    SetEvent(g_resume); // the window thread says so when it goes on
                else
                    Say("ok resume");
            } else if (line == "hang") {
                ResetEvent(g_answering);
                Say("ok hang");
            } else if (!line.empty())
                PostThreadMessageW(g_windowThread, CommandMessage, 0, reinterpret_cast<LPARAM>(new std::string(line)));
        }
    }
    PostThreadMessageW(g_windowThread, WM_QUIT, 0, 0);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        Say("failed: CoInitializeEx");
        return 1;
    }
    g_getObject = RegisterWindowMessageW(L"WM_HTML_GETOBJECT");
    g_resume = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_answering = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!RegisterClasses(instance) || g_getObject == 0 || g_resume == nullptr || g_answering == nullptr) {
        Say("failed: set-up");
        return 1;
    }
    g_windowThread = GetCurrentThreadId();
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue, before any command
    if (CreateThread(nullptr, 0, ReadCommands, nullptr, 0, nullptr) == nullptr) {
        Say("failed: CreateThread");
        return 1;
    }
    Say("ready");
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == CommandMessage) {
            auto* line = reinterpret_cast<std::string*>(message.lParam);
            Run(*line);
            delete line;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // At once: the reader may still block on the input, and the documents go with the process.
    ExitProcess(0);
}

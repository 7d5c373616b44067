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
// The program exits when its input ends. Its COM objects live in the multithreaded
// apartment, so they answer while the window thread stalls.
#define CINTERFACE
#define COBJMACROS
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

namespace {

// ---------------------------------------------------------------- COM objects

using Slot = HRESULT(STDMETHODCALLTYPE*)();

HRESULT STDMETHODCALLTYPE NotImplemented()
{
    return E_NOTIMPL;
}

// A vtable whose every slot answers E_NOTIMPL (the x64 convention lets one function stand
// for any signature); the slots the objects use are set afterwards.
template <typename Vtbl>
Vtbl NotImplementedVtbl()
{
    static_assert(sizeof(Vtbl) % sizeof(Slot) == 0);
    Vtbl vtbl;
    const Slot slot = &NotImplemented;
    for (std::size_t offset = 0; offset < sizeof(Vtbl); offset += sizeof(Slot))
        std::memcpy(reinterpret_cast<char*>(&vtbl) + offset, &slot, sizeof slot);
    return vtbl;
}

// Set while the getters answer; "hang" resets it, "resume" sets it again.
HANDLE g_answering = nullptr;

void WaitUntilAnswering()
{
    WaitForSingleObject(g_answering, INFINITE);
}

HRESULT CopyText(const std::wstring& text, BSTR* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// One interface of an object: its vtable pointer, then the object it belongs to.
template <typename Interface, typename Object>
struct Face : Interface
{
    Object* object = nullptr;
};

template <typename Object, typename Interface>
Object* Owner(Interface* self)
{
    return static_cast<Face<Interface, Object>*>(self)->object;
}

struct Document;

// An HTML element: a body with its inner HTML, or an embedded browser showing a document.
struct Element
{
    Element(std::wstring html, Document* document);
    ~Element();

    Face<IHTMLElement, Element> element;
    Face<IWebBrowser2, Element> browser; // answered only while it shows a document
    std::atomic<ULONG> refs{1};
    std::wstring html;
    Document* document; // the embedded browser's page, or null
};

struct Document
{
    Document(std::wstring title, std::wstring url, std::wstring domain, Element* body, Element* frame);
    ~Document();

    Face<IHTMLDocument2, Document> html;
    Face<IOleContainer, Document> container;
    std::atomic<ULONG> refs{1};
    std::wstring title, url, domain;
    Element* body;
    Element* frame; // the embedded browser, or null
};

// Lists one object (or none) once.
struct Enumerator
{
    explicit Enumerator(IUnknown* item);
    ~Enumerator();

    Face<IEnumUnknown, Enumerator> enumerator;
    std::atomic<ULONG> refs{1};
    IUnknown* item;
    bool done = false;
};

template <typename Object>
ULONG AddRefObject(Object* object)
{
    return ++object->refs;
}

template <typename Object>
ULONG ReleaseObject(Object* object)
{
    const ULONG left = --object->refs;
    if (left == 0)
        delete object;
    return left;
}

IUnknown* AsUnknown(Document* document)
{
    return reinterpret_cast<IUnknown*>(static_cast<IHTMLDocument2*>(&document->html));
}

IUnknown* AsUnknown(Element* element)
{
    return reinterpret_cast<IUnknown*>(static_cast<IHTMLElement*>(&element->element));
}

HRESULT Answer(void* pointer, IUnknown* identity, void** out)
{
    *out = pointer;
    identity->lpVtbl->AddRef(identity);
    return S_OK;
}

// A vtable for one interface of Object: IUnknown through the object's Query and its count,
// every other slot E_NOTIMPL until set.
template <typename Vtbl, typename Interface, typename Object, HRESULT (*Query)(Object*, REFIID, void**)>
Vtbl UnknownVtbl()
{
    auto vtbl = NotImplementedVtbl<Vtbl>();
    vtbl.QueryInterface = [](Interface* self, REFIID iid, void** out) { return Query(Owner<Object>(self), iid, out); };
    vtbl.AddRef = [](Interface* self) { return AddRefObject(Owner<Object>(self)); };
    vtbl.Release = [](Interface* self) { return ReleaseObject(Owner<Object>(self)); };
    return vtbl;
}

// --- Document

HRESULT DocumentQueryInterface(Document* document, REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IHTMLDocument) ||
        IsEqualIID(iid, IID_IHTMLDocument2))
        return Answer(&document->html, AsUnknown(document), out);
    if (IsEqualIID(iid, IID_IOleContainer) || IsEqualIID(iid, IID_IParseDisplayName))
        return Answer(&document->container, AsUnknown(document), out);
    return E_NOINTERFACE;
}

const IHTMLDocument2Vtbl DocumentVtbl = [] {
    auto vtbl = UnknownVtbl<IHTMLDocument2Vtbl, IHTMLDocument2, Document, DocumentQueryInterface>();
    vtbl.get_title = [](IHTMLDocument2* self, BSTR* out) {
        WaitUntilAnswering();
        return CopyText(Owner<Document>(self)->title, out);
    };
    vtbl.get_URL = [](IHTMLDocument2* self, BSTR* out) {
        WaitUntilAnswering();
        return CopyText(Owner<Document>(self)->url, out);
    };
    vtbl.get_domain = [](IHTMLDocument2* self, BSTR* out) {
        WaitUntilAnswering();
        return CopyText(Owner<Document>(self)->domain, out);
    };
    vtbl.get_body = [](IHTMLDocument2* self, IHTMLElement** out) -> HRESULT {
        WaitUntilAnswering();
        if (out == nullptr)
            return E_POINTER;
        Element* body = Owner<Document>(self)->body;
        *out = body ? &body->element : nullptr;
        if (body)
            AddRefObject(body);
        return S_OK;
    };
    return vtbl;
}();

const IOleContainerVtbl ContainerVtbl = [] {
    auto vtbl = UnknownVtbl<IOleContainerVtbl, IOleContainer, Document, DocumentQueryInterface>();
    vtbl.EnumObjects = [](IOleContainer* self, DWORD flags, IEnumUnknown** out) -> HRESULT {
        if (out == nullptr)
            return E_POINTER;
        Element* frame = Owner<Document>(self)->frame;
        *out = &(new Enumerator((flags & OLECONTF_EMBEDDINGS) && frame ? AsUnknown(frame) : nullptr))->enumerator;
        return S_OK;
    };
    return vtbl;
}();

// --- Element

HRESULT ElementQueryInterface(Element* element, REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IHTMLElement))
        return Answer(&element->element, AsUnknown(element), out);
    if (element->document &&
        (IsEqualIID(iid, IID_IWebBrowser2) || IsEqualIID(iid, IID_IWebBrowserApp) || IsEqualIID(iid, IID_IWebBrowser)))
        return Answer(&element->browser, AsUnknown(element), out);
    return E_NOINTERFACE;
}

const IHTMLElementVtbl ElementVtbl = [] {
    auto vtbl = UnknownVtbl<IHTMLElementVtbl, IHTMLElement, Element, ElementQueryInterface>();
    vtbl.get_innerHTML = [](IHTMLElement* self, BSTR* out) { return CopyText(Owner<Element>(self)->html, out); };
    return vtbl;
}();

const IWebBrowser2Vtbl BrowserVtbl = [] {
    auto vtbl = UnknownVtbl<IWebBrowser2Vtbl, IWebBrowser2, Element, ElementQueryInterface>();
    vtbl.get_Document = [](IWebBrowser2* self, IDispatch** out) -> HRESULT {
        if (out == nullptr)
            return E_POINTER;
        Document* document = Owner<Element>(self)->document;
        *out = document ? reinterpret_cast<IDispatch*>(static_cast<IHTMLDocument2*>(&document->html)) : nullptr;
        if (document)
            AddRefObject(document);
        return S_OK;
    };
    return vtbl;
}();

// --- Enumerator

HRESULT EnumeratorQueryInterface(Enumerator* enumerator, REFIID iid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IEnumUnknown))
        return E_NOINTERFACE;
    return Answer(&enumerator->enumerator, reinterpret_cast<IUnknown*>(&enumerator->enumerator), out);
}

const IEnumUnknownVtbl EnumeratorVtbl = [] {
    auto vtbl = UnknownVtbl<IEnumUnknownVtbl, IEnumUnknown, Enumerator, EnumeratorQueryInterface>();
    vtbl.Next = [](IEnumUnknown* self, ULONG count, IUnknown** items, ULONG* fetched) -> HRESULT {
        Enumerator* enumerator = Owner<Enumerator>(self);
        ULONG got = 0;
        if (count > 0 && enumerator->item && !enumerator->done) {
            items[0] = enumerator->item;
            enumerator->item->lpVtbl->AddRef(enumerator->item);
            enumerator->done = true;
            got = 1;
        }
        if (fetched)
            *fetched = got;
        return got == count ? S_OK : S_FALSE;
    };
    vtbl.Reset = [](IEnumUnknown* self) -> HRESULT {
        Owner<Enumerator>(self)->done = false;
        return S_OK;
    };
    return vtbl;
}();

Element::Element(std::wstring text, Document* page) : html(std::move(text)), document(page)
{
    element.lpVtbl = const_cast<IHTMLElementVtbl*>(&ElementVtbl);
    element.object = this;
    browser.lpVtbl = const_cast<IWebBrowser2Vtbl*>(&BrowserVtbl);
    browser.object = this;
}

Element::~Element()
{
    if (document)
        ReleaseObject(document);
}

Document::Document(std::wstring t, std::wstring u, std::wstring d, Element* b, Element* f)
    : title(std::move(t)), url(std::move(u)), domain(std::move(d)), body(b), frame(f)
{
    html.lpVtbl = const_cast<IHTMLDocument2Vtbl*>(&DocumentVtbl);
    html.object = this;
    container.lpVtbl = const_cast<IOleContainerVtbl*>(&ContainerVtbl);
    container.object = this;
}

Document::~Document()
{
    if (body)
        ReleaseObject(body);
    if (frame)
        ReleaseObject(frame);
}

Enumerator::Enumerator(IUnknown* i) : item(i)
{
    enumerator.lpVtbl = const_cast<IEnumUnknownVtbl*>(&EnumeratorVtbl);
    enumerator.object = this;
    if (item)
        item->lpVtbl->AddRef(item);
}

Enumerator::~Enumerator()
{
    if (item)
        item->lpVtbl->Release(item);
}

// The page: the outer document, each further body a frame inside the one before.
Document* MakePage(const std::wstring& title, const std::wstring& url, const std::wstring& domain,
                   const std::vector<std::wstring>& bodies)
{
    Document* inner = nullptr;
    for (std::size_t i = bodies.size(); i-- > 1;) {
        Element* frame = inner ? new Element(L"", inner) : nullptr;
        inner = new Document(L"", L"", L"", new Element(bodies[i], nullptr), frame);
    }
    Element* frame = inner ? new Element(L"", inner) : nullptr;
    return new Document(title, url, domain, new Element(bodies.empty() ? L"" : bodies[0], nullptr), frame);
}

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

#include "StandInPage_win.h"

#include <oleacc.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace standin {

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

template <typename Object, typename Interface>
Object* Owner(Interface* self)
{
    return static_cast<Face<Interface, Object>*>(self)->object;
}

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

} // namespace standin

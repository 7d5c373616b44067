// The stand-in browser's page: COM objects of its own that play an HTML document (title,
// URL, domain, body) with an OLE container listing an embedded browser when the page has a
// frame. They live in the multithreaded apartment.
#pragma once

#define CINTERFACE
#define COBJMACROS
#include <windows.h>
#include <ole2.h>
#include <exdisp.h>
#include <mshtml.h>

#include <atomic>
#include <string>
#include <vector>

namespace standin {

// One interface of an object: its vtable pointer, then the object it belongs to.
template <typename Interface, typename Object>
struct Face : Interface
{
    Object* object = nullptr;
};

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

// The page: the outer document, each further body a frame inside the one before.
Document* MakePage(const std::wstring& title, const std::wstring& url, const std::wstring& domain,
                   const std::vector<std::wstring>& bodies);
IUnknown* AsUnknown(Document* document);
IUnknown* AsUnknown(Element* element);

// Set while the getters answer; "hang" resets it, "resume" sets it again.
extern HANDLE g_answering;

} // namespace standin

#include "Library_win.h"

#include "ComSupport_win.h"

#include <stdexcept>

namespace kzb::inspection {

Library::Library(std::string name) : m_name(std::move(name))
{
    m_module = ::LoadLibraryA(m_name.c_str());
    if (m_module == nullptr)
        ThrowLastError("Failed to load library '" + m_name + "'");
}

Library::~Library()
{
    ::FreeLibrary(m_module); // a failure to free is ignored
}

FARPROC Library::GetFunction(const char* function) const
{
    const FARPROC address = ::GetProcAddress(m_module, function);
    if (address == nullptr) {
        ThrowLastError("Failed to retrieve address of function or variable '" + std::string(function) +
                       "' from library '" + m_name + "'");
    }
    return address;
}

ActiveAccessibilityLibrary::ActiveAccessibilityLibrary() : Library("OleAcc.dll")
{
    // GetProcAddress gives every function one type; this is the one it has.
    m_objectFromLresult = reinterpret_cast<ObjectFromLresultFunction>(
        reinterpret_cast<void*>(GetFunction("ObjectFromLresult")));
}

void ActiveAccessibilityLibrary::ObjectFromLresult(LRESULT result, REFIID interfaceId, WPARAM wParam,
                                                   void** object) const
{
    if (m_objectFromLresult == nullptr)
        throw std::runtime_error("ObjectFromLresult called on invalid ActiveAccessibilityLibrary object");
    const HRESULT got = m_objectFromLresult(result, interfaceId, wParam, object);
    if (got != S_OK)
        ThrowComError(got, "Failed to get object from lresult");
}

} // namespace kzb::inspection

#pragma once

#include <windows.h>

#include <string>

namespace kzb::inspection {

// A library loaded by name for the lifetime of the object.
class Library
{
public:
    // Throws SystemError "Failed to load library '<name>'".
    explicit Library(std::string name);
    virtual ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const std::string& GetName() const { return m_name; }
    // Throws SystemError when the library has no such function or variable.
    FARPROC GetFunction(const char* function) const;

private:
    std::string m_name;
    HMODULE m_module = nullptr;
};

// OleAcc.dll with its ObjectFromLresult, looked up once.
class ActiveAccessibilityLibrary : public Library
{
public:
    ActiveAccessibilityLibrary();

    // Throws SystemError "Failed to get object from lresult" with the COM result.
    void ObjectFromLresult(LRESULT result, REFIID interfaceId, WPARAM wParam, void** object) const;

private:
    using ObjectFromLresultFunction = HRESULT(WINAPI*)(LRESULT, REFIID, WPARAM, void**);
    ObjectFromLresultFunction m_objectFromLresult = nullptr;
};

} // namespace kzb::inspection

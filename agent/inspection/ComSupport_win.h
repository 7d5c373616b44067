#pragma once

// Errors, COM initialisation and wide text for the page access on Windows.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <system_error>
#include <thread>

namespace kzb::inspection {

// A failed system or COM call: carries the code, and what() is exactly the text given.
class SystemError : public std::system_error
{
public:
    SystemError(std::error_code code, std::string text) : std::system_error(code), m_text(std::move(text)) {}
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    std::string m_text;
};

// COM result codes: the system's text for the code, then " (0x" eight hex digits ")".
class ComErrorCategory : public std::error_category
{
public:
    const char* name() const noexcept override { return "COM"; }
    std::string message(int code) const override;
};

const ComErrorCategory& GetComErrorCategory();

// Throw SystemError with a Windows error code (GetLastError() for the second).
[[noreturn]] void ThrowSystemError(DWORD code, const std::string& text);
[[noreturn]] void ThrowLastError(const std::string& text);
[[noreturn]] void ThrowComError(HRESULT result, const std::string& text);

// COM in the multithreaded apartment for the constructing thread, for as long as the object
// lives. Uninitialises only what it initialised itself, and only on that thread.
class ComInitialization
{
public:
    ComInitialization();
    ~ComInitialization();
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;

private:
    bool m_initialised = false;
    std::thread::id m_thread;
};

// A BSTR that a COM call returns; freed with the holder.
class Bstr
{
public:
    Bstr() = default;
    ~Bstr() { ::SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR* Out() { return &m_text; }
    // The text in the system's ANSI code page; empty for a null BSTR.
    std::string ToAnsi() const;

private:
    BSTR m_text = nullptr;
};

} // namespace kzb::inspection

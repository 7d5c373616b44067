#include "ComSupport_win.h"

#include <objbase.h>

#include <comdef.h>

#include <cstdio>

namespace kzb::inspection {

std::string ComErrorCategory::message(int code) const
{
    const HRESULT result = static_cast<HRESULT>(code);
    const _com_error error(result);
    const char* text = error.ErrorMessage();
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " (0x%08lX)", static_cast<unsigned long>(result));
    return std::string(text ? text : "") + suffix;
}

const ComErrorCategory& GetComErrorCategory()
{
    static const ComErrorCategory category;
    return category;
}

void ThrowSystemError(DWORD code, const std::string& text)
{
    throw SystemError(std::error_code(static_cast<int>(code), std::system_category()), text);
}

void ThrowLastError(const std::string& text)
{
    ThrowSystemError(::GetLastError(), text);
}

void ThrowComError(HRESULT result, const std::string& text)
{
    throw SystemError(std::error_code(static_cast<int>(result), GetComErrorCategory()), text);
}

ComInitialization::ComInitialization() : m_thread(std::this_thread::get_id())
{
    const HRESULT result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result))
        ThrowComError(result, "Failed to initialise COM");
    m_initialised = result == S_OK;
}

ComInitialization::~ComInitialization()
{
    // COM is per thread: on any other thread this would undo someone else's initialisation.
    if (m_initialised && std::this_thread::get_id() == m_thread)
        ::CoUninitialize();
}

std::string Bstr::ToAnsi() const
{
    const int length = static_cast<int>(::SysStringLen(m_text));
    if (length == 0)
        return {};
    const int size = ::WideCharToMultiByte(CP_ACP, 0, m_text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, m_text, length, text.data(), size, nullptr, nullptr);
    return text;
}

} // namespace kzb::inspection

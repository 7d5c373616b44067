// Logging from the module that includes this header: its own module handle, the calling
// thread's id, and KZB_LOG, the one-statement log call with its format checked by -Wall:
//
//     KZB_LOG(kzb::logging::LEVEL_INFO, "Recorder %u - connected", number);
//
// Needs no <windows.h>, so portable code can use it on both builds.
#pragma once

#include "KZBLogging.h"

#include <cstdint>

#if defined(_WIN32)
// The linker places this symbol at the start of every PE image: its address is the
// HMODULE of the module that refers to it.
extern "C" char __ImageBase;
extern "C" __declspec(dllimport) unsigned long __stdcall GetCurrentThreadId(void);
#else
#  include <dlfcn.h>
#  include <unistd.h>
#endif

namespace kzb::logging {

// The handle of the module this code is linked into (executable or shared library).
// Internal linkage on purpose: each module must see its own copy.
static inline ModuleHandle ThisModule()
{
#if defined(_WIN32)
    return &__ImageBase;
#else
    static const char anchor = 0;
    static ModuleHandle const module = [] {
        Dl_info info{};
        return dladdr(&anchor, &info) != 0 ? info.dli_fbase : nullptr;
    }();
    return module;
#endif
}

static inline std::uint32_t ThisThreadId()
{
#if defined(_WIN32)
    return GetCurrentThreadId();
#else
    static thread_local const std::uint32_t id = static_cast<std::uint32_t>(gettid());
    return id;
#endif
}

} // namespace kzb::logging

#define KZB_LOG(level, ...)                                                              \
    ::CreateLogMessage((level), __FILE__, __LINE__, ::kzb::logging::ThisThreadId(),       \
        ::kzb::logging::ThisModule())->Printf(__VA_ARGS__)

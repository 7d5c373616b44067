#include "Thread.h"

#include <windows.h>

std::uint32_t kzb::CurrentThreadId()
{
    return static_cast<std::uint32_t>(::GetCurrentThreadId());
}

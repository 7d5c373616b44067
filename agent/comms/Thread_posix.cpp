#include "Thread.h"

#include <unistd.h>

std::uint32_t kzb::CurrentThreadId()
{
    return static_cast<std::uint32_t>(::gettid());
}

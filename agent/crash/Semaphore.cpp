#include "Semaphore.h"

#include "comms/Thread.h"

#include "Log.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace KZB_SEMAPHORE {
namespace {

constexpr DWORD LockTimeoutMs = 100;

// A source file as the log lines show it: its name and extension as _splitpath gives them.
struct SourceName
{
    explicit SourceName(const char* path)
    {
        if (path != nullptr)
            _splitpath(path, nullptr, nullptr, name, extension);
    }

    char name[_MAX_FNAME] = {};
    char extension[_MAX_EXT] = {};
};

} // namespace

CSemaphore::CSemaphore(const char* name)
{
    std::snprintf(m_name, sizeof m_name, "%s", name);
    // Cleared first, so that only this call's outcome is reported.
    SetLastError(0);
    m_handle = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    const DWORD error = GetLastError();
    if (m_handle == nullptr || error != 0)
        AGENT_LOG(kzb::log::Error, "Error <%d> creating semaphore <%s>\n", static_cast<int>(error), m_name);
    else
        AGENT_LOG(kzb::log::Info, "Created %s semaphore <%s>\n", "unnamed", m_name);
}

CSemaphore::~CSemaphore()
{
    if (CloseHandle(m_handle))
        AGENT_LOG(kzb::log::Info, "Closed handle for semaphore <%s>\n", m_name);
    else
        AGENT_LOG(kzb::log::Error, "Error <%d> closing handle for semaphore <%s>\n",
                static_cast<int>(GetLastError()), m_name);
}

bool CSemaphore::Lock(const char* file, int line)
{
    const DWORD result = WaitForSingleObject(m_handle, LockTimeoutMs);
    if (result == WAIT_OBJECT_0) {
        m_ownerThread = kzb::CurrentThreadId();
        m_ownerFile = file;
        m_ownerLine = line;
        m_secondFile = file;
        m_secondLine = line;
        m_failedLocks = 0;
        return true;
    }

    const SourceName caller(file);
    if (result == WAIT_TIMEOUT) {
        const SourceName owner(m_ownerFile);
        const SourceName second(m_secondFile);
        AGENT_LOG(kzb::log::Error,
                "Semaphore <%s> timeout from [%s%s(%d)] as thread %X [%s%s(%d)] has it at [%s%s(%i)]\n",
                m_name, caller.name, caller.extension, line, static_cast<unsigned>(m_ownerThread.load()),
                owner.name, owner.extension, m_ownerLine.load(), second.name, second.extension,
                m_secondLine.load());
    } else {
        AGENT_LOG(kzb::log::Error, "Error <%d> from WaitForSingleObject() for semaphore <%s> - from [%s%s(%d)]\n",
                static_cast<int>(result), m_name, caller.name, caller.extension, line);
    }
    ++m_failedLocks;
    return false;
}

void CSemaphore::Unlock(const char* file, int line)
{
    const SourceName caller(file);
    if (m_ownerThread != kzb::CurrentThreadId()) {
        const SourceName owner(m_ownerFile);
        AGENT_LOG(kzb::log::Error, "Unlocking semaphore <%s> from [%s%s(%d)], locked by thread %X [%s%s(%d)]\n",
                m_name, caller.name, caller.extension, line, static_cast<unsigned>(m_ownerThread.load()),
                owner.name, owner.extension, m_ownerLine.load());
    }
    m_ownerThread = 0;
    m_ownerFile = nullptr;
    m_ownerLine = 0;
    m_secondFile = nullptr;
    m_secondLine = 0;
    if (!ReleaseSemaphore(m_handle, 1, nullptr))
        AGENT_LOG(kzb::log::Error, "Error <%d> releasing semaphore <%s> - from [%s%s(%d)]\n",
                static_cast<int>(GetLastError()), m_name, caller.name, caller.extension, line);
}

} // namespace KZB_SEMAPHORE

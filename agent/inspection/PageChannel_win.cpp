// The agent's page pipe: one per user session, its name carrying the session's id, so that
// the host finds the agent of its own session on a server shared by many.
#include "PageSource.h"

#include <windows.h>

namespace kzb::inspection {

std::string PageChannelName(std::string& error)
{
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
        error = "the session id cannot be read (error " + std::to_string(::GetLastError()) + ")";
        return {};
    }
    return "\\\\.\\pipe\\kzbdka-pages-" + std::to_string(session);
}

} // namespace kzb::inspection

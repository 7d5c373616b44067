#include "Peer.h"

#include "KZBLogThis.h"

extern "C" {

void* PeerModule()
{
    return kzb::logging::ThisModule();
}

void PeerSetup(const char* logFile)
{
    Setup(logFile, kzb::logging::ThisModule());
}

void PeerLog(std::int32_t level, const char* text)
{
    KZB_LOG(level, "peer says %s", text);
}

void PeerShutdown()
{
    Shutdown(kzb::logging::ThisModule());
    DestroyLogger(kzb::logging::ThisModule());
}

} // extern "C"

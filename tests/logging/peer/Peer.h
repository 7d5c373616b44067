// A second module of the test process that logs under its own module handle.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#  if defined(LOGGING_PEER_EXPORTS)
#    define LOGGING_PEER_API __declspec(dllexport)
#  else
#    define LOGGING_PEER_API __declspec(dllimport)
#  endif
#else
#  define LOGGING_PEER_API __attribute__((visibility("default")))
#endif

extern "C" {
LOGGING_PEER_API void* PeerModule();
LOGGING_PEER_API void PeerSetup(const char* logFile);
LOGGING_PEER_API void PeerLog(std::int32_t level, const char* text);
LOGGING_PEER_API void PeerShutdown();
}

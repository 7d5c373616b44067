#pragma once

#include "Log.h"

// A line of the crash dump writer: level 0, written only while logging is on ("DisableLogging"
// is 0).
#define DUMP_LOG(loggingOn, ...)                           \
    do {                                                   \
        if (loggingOn)                                     \
            AGENT_LOG(kzb::log::Error, __VA_ARGS__);         \
    } while (false)

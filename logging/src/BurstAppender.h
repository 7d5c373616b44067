// The library's own appenders take a drained burst of messages at once.
#pragma once

#include "KZBLogging.h"
#include "LogMessage.h"

namespace kzb::logging {

class BurstAppender : public ILogAppender
{
public:
    // Same result as Write for each message in turn, with less work per message.
    virtual void WriteBurst(const MessageBatch& messages) = 0;
};

} // namespace kzb::logging

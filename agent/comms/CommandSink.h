#pragma once

#include "protocol/DKACommand.h"

// Whoever takes the commands a recorder sends: the session handler's command queue.
class ICommandSink
{
public:
    // Called on the message stream's thread, in arrival order.
    virtual void AppendCommand(const DKACommandPtr& command) = 0;

protected:
    ~ICommandSink() = default;
};

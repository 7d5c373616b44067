#include "MessagePump.h"

bool ProcessWaitingMessages()
{
    return true;
}

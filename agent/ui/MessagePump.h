#pragma once

// Runs the window messages already waiting on the calling (window) thread. Returns false when
// a quit message was among them; it is posted again for the main loop. Natively there are no
// window messages and it returns true.
bool ProcessWaitingMessages();

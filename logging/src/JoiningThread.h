// The thread base of the library: Start runs Run on a new thread, Stop ends it and waits
// for it (the agent's CThread only asks its thread to stop).
#pragma once

#include <atomic>
#include <thread>

namespace kzb {

class JoiningThread
{
public:
    JoiningThread() = default;
    JoiningThread(const JoiningThread&) = delete;
    JoiningThread& operator=(const JoiningThread&) = delete;
    // Clears the running flag and waits for the thread. A class whose Run blocks must
    // stop the thread in its own destructor: here its Wake no longer exists.
    virtual ~JoiningThread();

    // Stops a previous thread first.
    virtual void Start();
    // Clears the running flag, wakes Run and waits for the thread to end.
    virtual void Stop();

protected:
    // Returns once Running() is false.
    virtual void Run() = 0;
    // Unblocks a Run that waits for work; called after the running flag is cleared.
    virtual void Wake() {}
    bool Running() const { return m_running.load(); }

private:
    void Join();

    std::thread m_thread;
    std::atomic<bool> m_running{false};
};

} // namespace kzb

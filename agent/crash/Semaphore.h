#pragma once

#include <atomic>

namespace KZB_SEMAPHORE {

// A semaphore of one that says who holds it: callers pass their source file and line, and
// a caller that times out logs which thread has it and where it was locked.
class CSemaphore
{
public:
    // The name is used only in the log lines.
    explicit CSemaphore(const char* name);
    virtual ~CSemaphore();
    CSemaphore(const CSemaphore&) = delete;
    CSemaphore& operator=(const CSemaphore&) = delete;

    // Waits up to 100 ms; false on a time-out or a failed wait, with a log line.
    bool Lock(const char* file, int line);
    void Unlock(const char* file, int line);

private:
    void* m_handle;
    char m_name[260];
    // Read by threads that time out while another one holds the semaphore.
    std::atomic<unsigned long> m_ownerThread{0};
    std::atomic<const char*> m_ownerFile{nullptr};
    std::atomic<int> m_ownerLine{0};
    std::atomic<const char*> m_secondFile{nullptr};
    std::atomic<int> m_secondLine{0};
    // Failed lock attempts since the last success.
    std::atomic<unsigned> m_failedLocks{0};
};

} // namespace KZB_SEMAPHORE

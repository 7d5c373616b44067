#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kzb {

// A long-lived activity that owns one operating-system thread.
class IThread
{
public:
    virtual ~IThread() = default;
    // The operating system's id of the thread; 0 before the first Start.
    virtual std::uint32_t GetThreadId() const = 0;
    // Waits for the thread to end. Never called by the thread itself.
    virtual void Join() = 0;
    virtual void Start() = 0;
    virtual bool IsRunning() const = 0;
    // Asks the thread to finish; does not wait.
    virtual void Stop() = 0;
};

} // namespace kzb

// Thread base: Run is the body; it loops while IsRunning. Stop only asks (it never waits,
// unlike the logging library's JoiningThread); Join waits. A derived class whose body
// blocks overrides Stop to wake it, and stops and joins its thread in its own destructor.
class CThread : public virtual kzb::IThread
{
public:
    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    // A thread still running here is left to run (its handle is let go).
    ~CThread() override;

    std::uint32_t GetThreadId() const override { return m_threadId.load(); }
    void Join() override;
    // Joins an earlier thread first, so one object never has two threads.
    void Start() override;
    bool IsRunning() const override { return m_running.load(); }
    void Stop() override { m_running.store(false); }

protected:
    virtual unsigned Run() = 0;

private:
    std::atomic<std::uint32_t> m_threadId{0};
    std::mutex m_handleMutex; // guards m_thread between Start, Join and the destructor
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};

namespace kzb {

// An unnamed mutex that the holding thread may lock again.
class Mutex
{
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

} // namespace kzb

// Holds a mutex for its scope. Throws std::runtime_error when the mutex cannot be taken.
class MutexLock
{
public:
    explicit MutexLock(kzb::Mutex* mutex);
    ~MutexLock();
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    kzb::Mutex* m_mutex = nullptr;
};

namespace kzb {
// The operating system's id of the calling thread.
std::uint32_t CurrentThreadId();
} // namespace kzb

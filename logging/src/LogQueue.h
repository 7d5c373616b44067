// The queue between the threads that log and a logger's writer thread.
#pragma once

#include "LogMessage.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace kzb::logging {

// Overflow policy: a message that finds the queue full waits up to kPushWait for a slot,
// then is dropped and counted (Dropped); the logger says how many at shutdown. With the
// default capacity the queue is full only after that many messages wait.
class LogQueue
{
public:
    static constexpr std::size_t kDefaultCapacity = 2147483647;
    // How long Push waits for a free slot before it drops the message.
    static constexpr std::chrono::milliseconds kPushWait{10};

    explicit LogQueue(std::size_t capacity = kDefaultCapacity) : m_capacity(capacity) {}

    // Appends the message; false when no slot freed up in time (the message is destroyed
    // and counted).
    bool Push(MessagePtr message);
    // Messages dropped so far because the queue was full.
    std::uint64_t Dropped() const { return m_dropped.load(); }

    // Replaces the contents of batch with everything queued now.
    void TakeAll(MessageBatch& batch);

    // Blocks until messages are queued and ready() holds, or stop() holds; takes the
    // messages only when ready() holds (woken by stop without it, batch comes back empty).
    // Whoever changes what ready or stop read calls Wake.
    template <class Ready, class Stop>
    void WaitTakeAll(MessageBatch& batch, Ready ready, Stop stop)
    {
        std::unique_lock lock(m_mutex);
        auto work = [&] { return stop() || (!m_messages.empty() && ready()); };
        if (!work()) {
            m_idle = true;
            m_filled.wait(lock, work);
            m_idle = false;
        }
        if (!ready()) {
            batch.clear();
            return;
        }
        TakeLocked(batch);
        lock.unlock();
        m_freed.notify_all();
    }

    void Wake();

    // Every non-empty batch taken is reported here once it has been written.
    void Written();
    // Blocks until every batch taken so far has been written, so that a drain on one thread
    // also covers the batch the writer thread is holding.
    void WaitWritten();

private:
    void TakeLocked(MessageBatch& batch);

    const std::size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_filled;
    std::condition_variable m_freed;
    MessageBatch m_messages;
    bool m_idle = false; // the consumer waits for work and must be signalled
    std::condition_variable m_written;
    std::size_t m_unwritten = 0; // batches taken and not yet written
    std::atomic<std::uint64_t> m_dropped{0};
};

} // namespace kzb::logging

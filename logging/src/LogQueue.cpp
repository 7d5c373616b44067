#include "LogQueue.h"

namespace kzb::logging {

bool LogQueue::Push(MessagePtr message)
{
    {
        std::unique_lock lock(m_mutex);
        if (m_messages.size() >= m_capacity
            && !m_freed.wait_for(lock, kPushWait, [this] { return m_messages.size() < m_capacity; })) {
            ++m_dropped;
            return false;
        }
        m_messages.push_back(std::move(message));
        if (!m_idle)
            return true; // the consumer is busy: it takes the message with the next batch
    }
    m_filled.notify_one();
    return true;
}

void LogQueue::TakeAll(MessageBatch& batch)
{
    {
        std::lock_guard lock(m_mutex);
        TakeLocked(batch);
    }
    m_freed.notify_all();
}

void LogQueue::TakeLocked(MessageBatch& batch)
{
    batch.clear();
    // The emptied vector keeps its capacity and goes back to the queue.
    batch.swap(m_messages);
    if (!batch.empty())
        ++m_unwritten;
}

void LogQueue::Written()
{
    {
        std::lock_guard lock(m_mutex);
        --m_unwritten;
    }
    m_written.notify_all();
}

void LogQueue::WaitWritten()
{
    std::unique_lock lock(m_mutex);
    m_written.wait(lock, [this] { return m_unwritten == 0; });
}

void LogQueue::Wake()
{
    // Taking the mutex orders the caller's change before the waiter's next check.
    { std::lock_guard lock(m_mutex); }
    m_filled.notify_all();
}

} // namespace kzb::logging

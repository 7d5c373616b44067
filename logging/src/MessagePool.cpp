#include "MessagePool.h"

namespace kzb::logging {

MessagePtr MessagePool::Acquire(std::int32_t level, std::int32_t line, std::uint32_t threadId, ModuleHandle module)
{
    MessagePtr message;
    {
        std::lock_guard lock(m_lock);
        if (!m_free.empty()) {
            message = std::move(m_free.back());
            m_free.pop_back();
        }
    }
    if (!message)
        return std::make_unique<LogMessage>(level, line, threadId, module);
    message->Reset(level, line, threadId, module);
    return message;
}

void MessagePool::Recycle(MessageBatch& batch)
{
    {
        std::lock_guard lock(m_lock);
        for (auto& message : batch) {
            if (m_free.size() >= kKeep)
                break;
            m_free.push_back(std::move(message));
        }
    }
    batch.clear(); // frees what the pool did not keep
}

} // namespace kzb::logging

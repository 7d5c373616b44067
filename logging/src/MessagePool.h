// Finished messages kept for reuse. A recycled message keeps the memory of its strings,
// so steady logging needs no heap at all; and the writer thread no longer frees memory
// that the logging threads allocated, which made both queue up on the allocator's lock.
#pragma once

#include "LogMessage.h"

#include <mutex>

namespace kzb::logging {

class MessagePool
{
public:
    // How many messages the pool keeps at most; the rest are freed.
    static constexpr std::size_t kKeep = 4096;

    // A message as the LogMessage constructor makes it, recycled when one is at hand.
    MessagePtr Acquire(std::int32_t level, std::int32_t line, std::uint32_t threadId, ModuleHandle module);
    // Takes the messages of a written batch; the batch is empty afterwards.
    void Recycle(MessageBatch& batch);

private:
    std::mutex m_lock;
    MessageBatch m_free;
};

} // namespace kzb::logging

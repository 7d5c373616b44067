#pragma once

#include "protocol/Serializable.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// Cuts received bytes into whole messages by their 8-byte header {command ID, payload length}.
// Holds at most one incomplete message between calls. A message announced longer than
// MaxMessageSize is reported at once and its bytes are skipped as they arrive.
class MessageFramer
{
public:
    static constexpr std::size_t HeaderSize = 8;
    static constexpr std::size_t MaxMessageSize = 16384;

    using MessageHandler = std::function<void(ByteView message)>;

    // Appends the received bytes and hands each complete message, header included, to
    // handler, in order.
    void Consume(ByteView received, const MessageHandler& handler);

    // Bytes kept for the next call (the start of an incomplete message).
    std::size_t Buffered() const { return m_buffer.size(); }
    // Bytes of an oversized message still to be skipped.
    std::uint64_t Skipping() const { return m_skip; }

private:
    ByteArray m_buffer;
    std::uint64_t m_skip = 0;
};

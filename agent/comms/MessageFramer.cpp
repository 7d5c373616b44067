#include "MessageFramer.h"

#include "Log.h"
#include "protocol/DKACommand.h"

#include <algorithm>

namespace {
std::uint32_t ReadU32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
} // namespace

void MessageFramer::Consume(ByteView received, const MessageHandler& handler)
{
    if (m_skip > 0) {
        const std::size_t skipped = static_cast<std::size_t>(std::min<std::uint64_t>(m_skip, received.size()));
        m_skip -= skipped;
        received = received.subspan(skipped);
    }
    m_buffer.insert(m_buffer.end(), received.begin(), received.end());

    std::size_t position = 0;
    while (m_buffer.size() - position >= HeaderSize) {
        const std::uint8_t* header = m_buffer.data() + position;
        const std::uint32_t commandID = ReadU32(header);
        // 64 bits: a payload length near 2^32 must not wrap around to a small total.
        const std::uint64_t total = std::uint64_t{ReadU32(header + 4)} + HeaderSize;
        const std::size_t available = m_buffer.size() - position;

        if (total > MaxMessageSize) {
            AGENT_LOG(kzb::log::Error,
                    "Read %s failed. Message length of %llu bytes is greater than the maximum of %llu bytes, "
                    "dropping all read data",
                    GetCommandName(commandID).c_str(), static_cast<unsigned long long>(total),
                    static_cast<unsigned long long>(MaxMessageSize));
            if (available >= total) {
                position += static_cast<std::size_t>(total);
                continue;
            }
            m_skip = total - available;
            position = m_buffer.size();
            break;
        }
        if (available < total) {
            AGENT_LOG(kzb::log::Info,
                    "Read %s incomplete. Message length is %llu bytes but only read %llu bytes, awaiting further data",
                    GetCommandName(commandID).c_str(), static_cast<unsigned long long>(total),
                    static_cast<unsigned long long>(available));
            break;
        }
        handler(ByteView(header, static_cast<std::size_t>(total)));
        position += static_cast<std::size_t>(total);
    }
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(position));
}

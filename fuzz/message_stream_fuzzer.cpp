// Feeds arbitrary bytes to the message framing as a recorder's stream would deliver them, in
// reads whose sizes the input chooses, and parses every message cut out as the stream does.
// The framing must keep at most one incomplete message, hand out only whole messages of at
// most the maximum size, and never crash whatever a header announces.
#include "Log.h"
#include "comms/MessageFramer.h"
#include "protocol/DKACommand.h"

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <exception>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KzbSetLogSink(&KzbDiscardLog);
    if (size < 2)
        return 0;
    // The first two bytes choose the read size (1 to 65536 bytes); the rest is the stream.
    const std::size_t readSize = (static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8) + 1;
    data += 2;
    size -= 2;

    MessageFramer framer;
    for (std::size_t position = 0; position < size; position += readSize) {
        const std::size_t count = std::min(readSize, size - position);
        framer.Consume(ByteView(data + position, count), [](ByteView message) {
            if (message.size() < MessageFramer::HeaderSize || message.size() > MessageFramer::MaxMessageSize)
                std::abort();
            const std::uint32_t id = static_cast<std::uint32_t>(message[0]) | static_cast<std::uint32_t>(message[1]) << 8 |
                                     static_cast<std::uint32_t>(message[2]) << 16 |
                                     static_cast<std::uint32_t>(message[3]) << 24;
            const std::uint32_t length = static_cast<std::uint32_t>(message[4]) |
                                         static_cast<std::uint32_t>(message[5]) << 8 |
                                         static_cast<std::uint32_t>(message[6]) << 16 |
                                         static_cast<std::uint32_t>(message[7]) << 24;
            if (message.size() != std::uint64_t{length} + MessageFramer::HeaderSize)
                std::abort();
            // An unknown ID is refused by the factory and dropped by the stream (throwing
            // for it here would cost more than the rest of the input).
            static const std::vector<std::uint32_t> ids = GetCatalogueIDs();
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                return;
            try {
                auto command = CreateCommand(id);
                command->Deserialize(message);
                (void)command->ToString();
            } catch (const std::exception&) {
                // logged and dropped by the stream
            }
        });
        if (framer.Buffered() >= MessageFramer::MaxMessageSize)
            std::abort();
    }
    return 0;
}

// Feeds arbitrary bytes to the page messages as the browser or the agent would send them, in
// reads whose sizes the input chooses: the frame reader (a small limit, so that oversized
// frames come up often), the message parser, and the page host's relay in both directions.
// What is cut out must be whole frames within the limit; what a message is parsed into must
// read back as the same message; nothing may crash or throw.
#include "PageRelay.h"
#include "inspection/PageMessage.h"

#include <cstdint>
#include <cstdlib>

using namespace kzb::inspection;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kzb::pagehost::SetQuiet(true);
    if (size < 2)
        return 0;
    // The first byte chooses the read size (1 to 256), the second the side it comes from.
    const std::size_t readSize = static_cast<std::size_t>(data[0]) + 1;
    const auto from = data[1] & 1 ? kzb::pagehost::From::Agent : kzb::pagehost::From::Browser;
    data += 2;
    size -= 2;

    constexpr std::size_t Limit = 4096;
    PageFrameReader reader(Limit);
    for (std::size_t position = 0; position < size; position += readSize) {
        const std::size_t length = position + readSize <= size ? readSize : size - position;
        reader.Append(reinterpret_cast<const char*>(data) + position, length);
        while (auto frame = reader.Next()) {
            if (frame->oversized != (frame->size > Limit) || frame->json.size() > Limit)
                std::abort();
            kzb::pagehost::Relay(from, *frame);
            std::string error;
            const auto message = ParsePageMessage(frame->json, error);
            if (!message)
                continue;
            // Parsed, written and parsed again: the same message.
            const std::string written = FormatPageMessage(*message);
            const auto again = ParsePageMessage(written, error);
            if (!again || FormatPageMessage(*again) != written)
                std::abort();
        }
    }
    return 0;
}

// Feeds arbitrary bytes to the page messages as the browser or the agent would send them, in
// reads whose sizes the input chooses: the frame reader (a small limit, so that oversized
// frames come up often), the message parser, the page host's relay in both directions and
// the agent's page source, which takes what a host relays from the browser. What is cut out
// must be whole frames within the limit; what a message is parsed into must read back as the
// same message; the page source must hand out only pages it holds; nothing may crash or throw.
#include "Log.h"
#include "PageRelay.h"
#include "inspection/PageMessage.h"
#include "inspection/PageSource.h"

#include <cstdint>
#include <cstdlib>

using namespace kzb::inspection;


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kzb::pagehost::SetQuiet(true);
    KzbSetLogSink(&KzbDiscardLog);
    if (size < 2)
        return 0;
    // The first byte chooses the read size (1 to 256), the second who reads: the page host
    // from the browser or from the agent, or the agent's page source from a host. (One
    // reader per input: each parses the message again, and the check below parses it too.)
    const std::size_t readSize = static_cast<std::size_t>(data[0]) + 1;
    const auto from = data[1] & 1 ? kzb::pagehost::From::Agent : kzb::pagehost::From::Browser;
    const bool toAgent = data[1] & 2;
    data += 2;
    size -= 2;

    constexpr std::size_t Limit = 4096;
    PageFrameReader reader(Limit);
    PageSource pages;
    const PageSource::ConnectionId connection = pages.Connect();
    bool introduced = false;
    for (std::size_t position = 0; position < size; position += readSize) {
        const std::size_t length = position + readSize <= size ? readSize : size - position;
        reader.Append(reinterpret_cast<const char*>(data) + position, length);
        while (auto frame = reader.Next()) {
            if (frame->oversized != (frame->size > Limit) || frame->json.size() > Limit)
                std::abort();
            // The host's checks parse the message first: one it drops needs no second look.
            if (toAgent)
                pages.Take(connection, *frame, introduced);
            else if (kzb::pagehost::Relay(from, *frame).empty())
                continue;
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
    for (const auto& [window, page] : pages.Pages()) {
        if (!PageSource::IsPageWindow(window) || pages.Find(window) != page)
            std::abort();
    }
    pages.Leave(connection, introduced);
    if (!pages.Pages().empty())
        std::abort();
    return 0;
}

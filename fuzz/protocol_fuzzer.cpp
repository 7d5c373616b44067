// Feeds arbitrary bytes to a command class of the catalogue, as if a recorder had sent them.
// The class is the one the header's command ID names, as the stream picks it; an ID the
// catalogue lacks picks a class by its remainder, so that any input reaches one class. (One
// class per input, not every class: the fuzzer then spends its time on reading, not on
// bookkeeping forty runs at a time.) Reading may fail with an exception, never crash or read
// past the buffer; whatever reads and writes again must write an image of the size it claims.
#include "protocol/DKACommand.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint32_t> ids = GetCatalogueIDs();
    const ByteView bytes(data, size);

    std::uint32_t id = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i)
        id |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    if (std::find(ids.begin(), ids.end(), id) == ids.end())
        id = ids[id % ids.size()];

    std::shared_ptr<DKACommand> command;
    try {
        command = CreateCommand(id);
    } catch (const std::exception&) {
        return 0; // a class this build does not carry yet
    }
    try {
        command->Deserialize(bytes);
    } catch (const std::exception&) {
        return 0;
    }
    (void)command->ToString();
    ByteArray image;
    try {
        image = command->Serialize();
    } catch (const std::exception&) {
        // A received text that fills its whole field has no room for the NUL when written.
        return 0;
    }
    if (image.size() != command->GetSize())
        std::abort();
    // What was written reads back into the same image; failing to is a fault, thrown or not.
    try {
        auto again = CreateCommand(id);
        again->Deserialize(image);
        if (again->Serialize() != image)
            std::abort();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "command %u: its own image does not read back: %s\n", id, error.what());
        std::abort();
    }
    return 0;
}

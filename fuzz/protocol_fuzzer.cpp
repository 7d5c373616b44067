// Feeds arbitrary bytes to every command class of the catalogue, as if a recorder had sent
// them under each command ID. Reading may fail with an exception, never crash or read past
// the buffer; whatever reads and writes again must write an image of the size it claims.
#include "protocol/DKACommand.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint32_t> ids = GetCatalogueIDs();
    const ByteView bytes(data, size);

    for (std::uint32_t id : ids) {
        std::shared_ptr<DKACommand> command;
        try {
            command = CreateCommand(id);
        } catch (const std::exception&) {
            continue; // a class this build does not carry yet
        }
        try {
            command->Deserialize(bytes);
        } catch (const std::exception&) {
            continue;
        }
        (void)command->ToString();
        ByteArray image;
        try {
            image = command->Serialize();
        } catch (const std::exception&) {
            // A received text that fills its whole field has no room for the NUL when written.
            continue;
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
    }
    return 0;
}

// Fuzz target: every input is a packed db container. Entries handed out must have safe names and
// data that lies inside the input, and unscrambling keeps their length.
#include <cstdint>
#include <cstdlib>

#include "common/byte_reader.h"
#include "dispatcher/container.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    common::ByteView input(data, size);
    dispatcher::forEachContainerEntry(input, [data, size](const dispatcher::ContainerEntry& entry) {
        if (!dispatcher::isSafeEntryName(entry.name) || entry.name.size() >= dispatcher::kEntryNameSize) std::abort();
        if (!entry.data.empty() && (entry.data.data() < data || entry.data.size() > size ||
                                    entry.data.data() + entry.data.size() > data + size))
            std::abort();
        if (dispatcher::entryContents(entry).size() != entry.data.size()) std::abort();
    });
    return 0;
}

// libFuzzer target: any bytes as the exception db's coredump. Loading must end with a result and
// its messages; a loaded dump is then read through every region and thread as later steps do.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/symbols/elf_image.h"

namespace {

void useProcessModel(coresift::RunContext& context) {
    coresift::AddressSpace& space = *context.addressSpace;
    space.forEachRegion(0, ~TargetWord{0}, [&](coresift::MapEntry& region) {
        std::uint8_t buffer[16];
        space.readMemory(region.start, buffer, sizeof buffer);
        space.readMemory(region.end - 8, buffer, 8);
        space.readString(region.start);
        if (region.size() <= (16u << 20)) space.regionView(region);
        (void)coresift::regionListingLine(region);
        return 0;
    });
    context.core->threads.forEach([&](coresift::ThreadRecord& thread) {
        std::uint64_t word = 0;
        space.readMemory(thread.registers.sp(), &word, sizeof(TargetWord));
        return 0;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    coresift::RunContext context(sink, sink);
    context.catalog.selectEnglish();
    auto file = coresift::MappedFile::fromBuffer("PROCESS_COREDUMP", std::vector<std::uint8_t>(data, data + size));
    if (coresift::loadCoreFile(context, std::move(file))) {
        useProcessModel(context);
        coresift::teardownProcess(context);
    }
    return 0;
}

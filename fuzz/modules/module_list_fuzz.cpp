// libFuzzer target: the dump's dynamic linker data, its library records and a library's header
// page come from the input. The module list is built from them (record scan, chain walk, names,
// module creation, headers, dynamic section, hash tables), every module is matched against an
// empty symbols folder, looked up and asked for symbols, and the comparison helpers and the DEX
// header reader run over the input too.
//
// Input: [0, 4 KiB) the linker's data page, [4 KiB, 8 KiB) the records region, [8 KiB, 12 KiB)
// the header page of /system/lib/libfuzz.so. Unless bit 0 of the first byte is set, the linker's
// own record is planted in its data page (pointing at the records region) so that most inputs
// reach the chain walk; unless bit 1 is set, the header page starts with an ELF magic.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/symbols/code_comparison.h"
#include "analyzer/symbols/dex_match.h"
#include "analyzer/symbols/function_tables.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_symbols.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_constants.h"

namespace {

namespace ck = corekit::elf;

constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kLinker = 0x70000000, kRecords = 0x70100000, kLibrary = 0x40000000, kStack = 0x7ff00000;
constexpr auto kArch = kIs64 ? corekit::CoreArch::Arm64 : corekit::CoreArch::Arm32;

std::vector<std::uint8_t> part(const std::uint8_t* data, std::size_t size, std::size_t index) {
    std::vector<std::uint8_t> page(kPage, 0);
    if (size > index * kPage) std::memcpy(page.data(), data + index * kPage, std::min<std::size_t>(kPage, size - index * kPage));
    return page;
}

void put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The linker's own record, as the module list looks for it, whose next record is the region's.
void plantLinkerRecord(std::vector<std::uint8_t>& page) {
    const unsigned word = kIs64 ? 8 : 4;
    const std::size_t window = kIs64 ? 0x210 : 0x200 + 140;
    if (kIs64) put(page, window - 8, 8, word);
    put(page, window + (kIs64 ? 5 : 8) * word, kLinker + 0x10, word);
    put(page, window + (kIs64 ? 23 : 29) * word, 1, word);
    put(page, window + (kIs64 ? 30 : 36) * word, kLinker, word);
    put(page, window + (kIs64 ? 32 : 28), 0x40000041, 4);
    put(page, window + (kIs64 ? 3 : 6) * word, kRecords + (page[1] & 0xF0) * 4, word);
}

std::vector<std::uint8_t> makeCore(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t control = size ? data[0] : 0;
    auto linkerData = part(data, size, 0);
    auto records = part(data, size, 1);
    auto header = part(data, size, 2);
    if (!(control & 1)) plantLinkerRecord(linkerData);
    if (!(control & 2)) std::memcpy(header.data(), "\x7f" "ELF", 4);

    corekit::CoreBuilder core(kArch);
    core.addSegment(kLinker, kPage, ck::PF_R | ck::PF_X);
    core.addSegment(kLinker + kPage, linkerData, ck::PF_R | ck::PF_W);
    core.addSegment(kRecords, records, ck::PF_R | ck::PF_W);
    core.addSegment(kLibrary, header, ck::PF_R | ck::PF_X);
    core.addSegment(kLibrary + kPage, 4 * kPage, ck::PF_R | ck::PF_X);
    core.addSegment(kStack, std::vector<std::uint8_t>(kPage, 0), ck::PF_R | ck::PF_W);
    corekit::PrStatus thread;
    thread.pid = 1;
    thread.regs.assign(corekit::registerCount(kArch), 0);
    core.addPrStatus(thread);
    corekit::PrPsInfo info;
    info.pid = 1;
    core.addPrPsInfo(info);
    core.addAuxv({{ck::AT_PAGESZ, kPage}, {ck::AT_BASE, kLinker}, {ck::AT_ENTRY, kLibrary}});
    corekit::FileNote files;
    files.mappings = {{kLinker, kLinker + 2 * kPage, 0, kIs64 ? "/system/bin/linker64" : "/system/bin/linker"},
                      {kLibrary, kLibrary + 5 * kPage, 0, "/system/lib/libfuzz.so"}};
    core.addFileNote(files);
    return core.bytes();
}

void useModules(coresift::RunContext& context) {
    if (!context.moduleList) return;
    for (const auto& module : context.moduleList->modules()) {
        coresift::matchModule(context, *module);
        coresift::moduleAt(context, module->header.start);
        coresift::toFileAddress(context, *module, module->code.start + 8);
        // The symbol source over the dump's (fuzzed) dynamic tables and unwind index.
        if (coresift::SymbolSource* source = coresift::moduleSymbols(context, *module)) {
            coresift::symbolAt(*source, module->code.start + 8, coresift::lookup::kFunctionMask);
            coresift::symbolNamed(*source, "fuzz", coresift::lookup::kFunctionMask);
        }
        std::uint8_t byte;
        context.addressSpace->readMemory(module->code.start, &byte, 1);
    }
    coresift::moduleNamed(context, "libfuzz.so");
}

void useComparisons(const std::uint8_t* data, std::size_t size) {
    const common::ByteView whole(data, size);
    const common::ByteView first(data, size / 2), second(data + size / 2, size - size / 2);
    coresift::compareCode(first, second);
    coresift::sameFunctionBody(first, second, coresift::CodeKind::Thumb);
    coresift::sameFunctionBody(first, second, kIs64 ? coresift::CodeKind::A64 : coresift::CodeKind::Arm);
    if (auto index = coresift::FunctionIndex::fromEhFrameHdr(whole, 0x1000)) {
        if (!index->empty()) index->nearest(0x1800), index->containing(0x1800);
    }
    coresift::FunctionIndex::fromExidx(whole, 0x1000, static_cast<std::uint32_t>(size / 8));
    bool unsupported = false;
    coresift::dexWordsOf(whole, 0x1000, unsupported);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    coresift::RunContext context(sink, sink);
    context.catalog.selectEnglish();
    context.options.symbolsDir = "/nonexistent/ferrovane-fuzz-symbols";
    auto file = coresift::MappedFile::fromBuffer("PROCESS_COREDUMP", makeCore(data, size));
    if (coresift::loadCoreFile(context, std::move(file))) {
        useModules(context);
        coresift::teardownProcess(context);
    }
    useComparisons(data, size);
    return 0;
}

// libFuzzer target: one unwind step over fuzzed unwind tables, registers and stack bytes.
//
// Input (little-endian): flags u8, address bits u8, pc offset u16, the registers (one target
// word each, r0-r15 or x0-x30, sp, pc), the known-register mask u64, six section sizes u16
// (.eh_frame_hdr, .eh_frame, .ARM.exidx, .ARM.extab, .debug_frame, code), the section bytes in
// that order, and the stack bytes (the rest). The sections are placed at fixed addresses of a
// module and every source is stepped: the module's step (.eh_frame through its header or
// walked, .ARM.exidx), `.debug_frame`, the CFI row at the pc, prologue analysis, and the
// `.debug_frame` bytes evaluated as a DWARF expression.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "analyzer/driver/console.h"
#include "analyzer/unwind/cfi_step.h"
#include "analyzer/unwind/dwarf_expression.h"
#include "analyzer/unwind/module_unwinder.h"
#include "analyzer/unwind/prologue_analysis.h"
#include "common/byte_reader.h"

namespace {

using namespace coresift::unwind;

constexpr TargetWord kCode = 0x10000, kEhFrame = 0x12000, kHeader = 0x13000, kExidx = 0x14000, kExtab = 0x15000;
constexpr TargetWord kStack = 0x70000;

coresift::Console& quietConsole() {
    static coresift::MessageCatalog catalog;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static coresift::Console console(sink, sink, catalog);
    return console;
}

struct Input {
    std::uint8_t flags = 0, addressBits = 0;
    std::uint16_t pcOffset = 0;
    RegisterState registers;
    common::ByteView sections[6];
    common::ByteView stack;
};

bool parse(const std::uint8_t* data, std::size_t size, Input& input) {
    common::ByteReader reader(common::ByteView(data, size));
    input.flags = reader.u8();
    input.addressBits = reader.u8();
    input.pcOffset = reader.u16();
    for (unsigned reg = 0; reg < kRuleCount; ++reg) input.registers.r[reg] = reader.read<TargetWord>();
    input.registers.valid = reader.u64() & RegisterState::kAll;
    std::uint16_t sizes[6];
    for (std::uint16_t& s : sizes) s = reader.u16();
    for (unsigned i = 0; i < 6; ++i) input.sections[i] = reader.bytes(std::min<std::size_t>(sizes[i], reader.remaining()));
    input.stack = reader.view().from(reader.offset());
    return reader.ok();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input;
    if (!parse(data, size, input)) return 0;
    // Copies of exactly the fuzzed sizes, so that AddressSanitizer sees any read past a section.
    std::vector<std::vector<std::uint8_t>> copies;
    auto copy = [&copies](common::ByteView bytes) {
        copies.emplace_back(bytes.data(), bytes.data() + bytes.size());
        return common::ByteView(copies.back().data(), copies.back().size());
    };
    copies.reserve(8);
    const common::ByteView header = copy(input.sections[0]), ehFrame = copy(input.sections[1]),
                           exidx = copy(input.sections[2]), extab = copy(input.sections[3]),
                           debugFrame = copy(input.sections[4]), code = copy(input.sections[5]),
                           stack = copy(input.stack);
    SpanMemory memory;
    memory.add(kCode, code);
    memory.add(kEhFrame, ehFrame);
    memory.add(kHeader, header);
    memory.add(kExidx, exidx);
    memory.add(kExtab, extab);
    memory.add(kStack, stack);

    RegisterState registers = input.registers;
    registers.set(kPcRegister, (input.flags & 0x80 ? registers.r[kPcRegister] : kCode) + input.pcOffset);
    if (input.flags & 0x40) registers.set(kSpRegister, kStack + (registers.r[kSpRegister] & 0xFFF));

    coresift::Console& console = quietConsole();
    const StepEnvironment env{&console, &memory, input.addressBits};
    ModuleTables tables;
    tables.name = "fuzz.so";
    tables.ehFrameHdr = input.flags & 1 ? kHeader : 0;
    tables.ehFrameHdrSize = static_cast<TargetWord>(header.size());
    tables.ehFrame = input.flags & 2 ? kEhFrame : 0;
    tables.ehFrameSize = input.flags & 4 ? static_cast<TargetWord>(ehFrame.size()) : 0;
    tables.exidx = kExidx;
    tables.exidxCount = static_cast<std::uint32_t>(exidx.size() / 8 + (input.flags >> 3 & 1));
    ModuleUnwinder module(tables);

    RegisterState stepped = registers;
    module.step(env, stepped);
    module.cfiRowAt(env, registers.r[kPcRegister]);
    module.exidxFunctionAt(env, registers.r[kPcRegister]);

    DebugFrameTable table("fuzz.debug", debugFrame);
    const TargetWord filePc = registers.r[kPcRegister] - kCode;
    FdeLookup lookup = table.find(&console, filePc);
    if (lookup.kind == FdeLookup::Kind::Found) {
        RegisterState viaDebugFrame = registers;
        stepWithFde(table.section(&console), lookup.fde, filePc, memory, viaDebugFrame);
    }

    RegisterState viaPrologue = registers;
    stepByPrologue(env, kCode, viaPrologue);

    ExpressionContext context;
    context.names = {&console, "fuzz.so", ".debug_frame"};
    context.registers = &registers;
    context.memory = &memory;
    context.initialValue = registers.r[kSpRegister];
    context.cfa = registers.r[kSpRegister];
    context.frameBase = kStack;
    context.debugAddr = code;
    context.maxOperations = 2000;
    evaluateExpression(context, debugFrame, sizeof(TargetWord), (input.flags & 0x20) != 0);
    return 0;
}

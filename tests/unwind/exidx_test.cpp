// ARM exception tables: the unwind instruction interpreter, the index search and function
// extents, the personality forms of `.ARM.extab`, and the step through a module.
#include <gtest/gtest.h>

#include "analyzer/unwind/exidx_table.h"
#include "analyzer/unwind/module_unwinder.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::ByteVector;
using testsupport::Emitter;

constexpr TargetWord kStack = 0x70000;
constexpr std::uint32_t kStackWord = 0x5000000;  // word i of the stack holds kStackWord + i

class ExidxInterpreter : public testsupport::UnwindTest {
protected:
    ExidxInterpreter() {
        Emitter stack;  // 32-bit words whatever the build's width
        for (std::uint32_t i = 0; i < 512; ++i) stack.u32(kStackWord + i);
        memory.add(kStack, stack.data());
    }

    ArmRegisters frame() const {
        ArmRegisters regs;
        for (unsigned reg = 0; reg < 16; ++reg) regs.set(reg, 0x100 + reg);
        regs.set(ArmRegisters::kSp, kStack + 0x100);
        regs.set(7, kStack + 0x200);
        return regs;
    }
    ExidxRun run(const ByteVector& bytes, ArmRegisters& regs) {
        ExidxProgram program;
        for (std::uint8_t b : bytes) program.add(b);
        return runExidxProgram(program, memory, regs);
    }
    static std::uint32_t word(std::uint32_t address) { return kStackWord + (address - kStack) / 4; }
};

TEST_F(ExidxInterpreter, StackAdjustments) {
    struct Case {
        ByteVector program;
        std::int64_t vsp;
    };
    for (const Case& c : {Case{{0x00}, 4}, Case{{0x3F}, 256}, Case{{0x40}, -4}, Case{{0x7F}, -256},
                          Case{{0xB2, 0x00}, 0x204}, Case{{0xB2, 0x81, 0x01}, 0x204 + (129 << 2)},
                          Case{{0xB3, 0x12}, 2 * 8 + 12}, Case{{0xB8}, 12}, Case{{0xBF}, 7 * 8 + 12},
                          Case{{0xC8, 0x03}, 3 * 8 + 8}, Case{{0xC9, 0x00}, 8}, Case{{0xD0}, 8}, Case{{0xD7}, 64},
                          Case{{0x01, 0xB0, 0x01}, 8}}) {
        ArmRegisters regs = frame();
        ASSERT_EQ(run(c.program, regs), ExidxRun::Done) << int(c.program[0]);
        EXPECT_EQ(regs.r[ArmRegisters::kSp], static_cast<std::uint32_t>(kStack + 0x100 + c.vsp)) << int(c.program[0]);
        // Nothing popped: the pc is the LR the frame had, which is then spent.
        EXPECT_EQ(regs.r[ArmRegisters::kPc], 0x10Eu);
        EXPECT_FALSE(regs.known(ArmRegisters::kLr));
    }
}

TEST_F(ExidxInterpreter, PopsRestoreRegistersLowestFirst) {
    ArmRegisters regs = frame();
    // vsp = r7; pop {r4, r14} (short form 0xA8); finish.
    ASSERT_EQ(run({0x97, 0xA8, 0xB0, 0xB0}, regs), ExidxRun::Done);
    const std::uint32_t base = kStack + 0x200;
    EXPECT_EQ(regs.r[4], word(base));
    EXPECT_EQ(regs.r[ArmRegisters::kPc], word(base + 4));
    EXPECT_EQ(regs.r[ArmRegisters::kSp], base + 8);
    EXPECT_FALSE(regs.known(ArmRegisters::kLr));
    EXPECT_TRUE(regs.known(5));  // callee-saved and not popped: unchanged
    for (unsigned reg : {0u, 1u, 2u, 3u, 12u}) EXPECT_FALSE(regs.known(reg)) << reg;

    // pop {r0-r3} and {r4-r11, r14} with the long mask form.
    regs = frame();
    ASSERT_EQ(run({0xB1, 0x0F, 0x8F, 0xF0 | 0x0F}, regs), ExidxRun::Done);
    const std::uint32_t sp = kStack + 0x100;
    for (unsigned reg = 0; reg < 4; ++reg) EXPECT_EQ(regs.r[reg], word(sp + 4 * reg));
    // mask 0xFFF pops r4-r15: r13 takes its popped value, and the popped r15 is the pc.
    EXPECT_EQ(regs.r[4], word(sp + 16));
    EXPECT_EQ(regs.r[ArmRegisters::kSp], word(sp + 16 + 9 * 4));
    EXPECT_EQ(regs.r[ArmRegisters::kPc], word(sp + 16 + 11 * 4));
    EXPECT_EQ(regs.r[ArmRegisters::kLr], word(sp + 16 + 10 * 4));
    EXPECT_TRUE(regs.known(ArmRegisters::kLr));  // the interrupted frame's LR, as a signal frame has it

    regs = frame();
    ASSERT_EQ(run({0xAF}, regs), ExidxRun::Done);  // pop r4-r11, r14
    EXPECT_EQ(regs.r[11], word(sp + 28));
    EXPECT_EQ(regs.r[ArmRegisters::kPc], word(sp + 32));
    EXPECT_EQ(regs.r[ArmRegisters::kSp], sp + 36);
}

TEST_F(ExidxInterpreter, RefusalsAndFaults) {
    struct Case {
        ByteVector program;
        ExidxRun run;
    };
    for (const Case& c : {Case{{0x80, 0x00}, ExidxRun::Refused}, Case{{0x9D}, ExidxRun::Failed},
                          Case{{0x9F}, ExidxRun::Failed}, Case{{0xB1, 0x00}, ExidxRun::Failed},
                          Case{{0xB1, 0x10}, ExidxRun::Failed}, Case{{0xB4}, ExidxRun::Failed},
                          Case{{0xC0}, ExidxRun::Failed}, Case{{0xC6, 0x00}, ExidxRun::Failed},
                          Case{{0xCA}, ExidxRun::Failed}, Case{{0xD8}, ExidxRun::Failed},
                          Case{{0xFF}, ExidxRun::Failed}, Case{{0x84}, ExidxRun::Failed},
                          Case{{0xB2, 0x80}, ExidxRun::Failed}}) {
        ArmRegisters regs = frame();
        const ArmRegisters before = regs;
        EXPECT_EQ(run(c.program, regs), c.run) << int(c.program[0]);
        EXPECT_EQ(regs.r, before.r);
        EXPECT_EQ(regs.valid, before.valid);
    }
    // vsp = r7 needs r7 known; popping needs the stack readable; the pc needs LR.
    ArmRegisters regs = frame();
    regs.valid &= ~(1u << 7);
    EXPECT_EQ(run({0x97}, regs), ExidxRun::Failed);
    regs = frame();
    regs.r[ArmRegisters::kSp] = kStack + 512 * 4 - 4;
    EXPECT_EQ(run({0xA8}, regs), ExidxRun::Failed);
    regs = frame();
    regs.valid &= ~(1u << ArmRegisters::kLr);
    EXPECT_EQ(run({0xB0}, regs), ExidxRun::Failed);
}

// A module: code at 0x10000, its index at 0x20000, `.ARM.extab` data at 0x21000.
class ExidxTableTest : public ExidxInterpreter {
protected:
    static constexpr TargetWord kIndex = 0x20000, kExtab = 0x21000;

    static std::uint32_t prel31(TargetWord from, TargetWord to) { return static_cast<std::uint32_t>(to - from) & 0x7FFFFFFFu; }
    // Adds an index entry for the function at `function`; `data` is word 1, or an `.ARM.extab`
    // entry (placed at kExtab + offset) when `extab` is given.
    void entry(TargetWord function, std::uint32_t data, std::optional<ByteVector> extab = std::nullopt) {
        const TargetWord at = kIndex + static_cast<TargetWord>(index.size());
        index.u32(prel31(at, function));
        if (extab) {
            const TargetWord where = kExtab + static_cast<TargetWord>(extabBytes.size());
            extabBytes.bytes(*extab);
            index.u32(prel31(at + 4, where));
        } else {
            index.u32(data);
        }
    }
    ExidxTable& table(std::uint32_t count = 0) {
        memory.add(0x10000, ByteVector(0x1000, 0));
        memory.add(kIndex, index.data());
        if (extabBytes.size()) memory.add(kExtab, extabBytes.data());
        exidx = std::make_unique<ExidxTable>("libfoo.so", kIndex, count ? count : static_cast<std::uint32_t>(index.size() / 8));
        return *exidx;
    }
    RegisterState frameAt(TargetWord pc) const {
        RegisterState regs;
        const ArmRegisters arm = frame();
        for (unsigned reg = 0; reg < 16; ++reg) regs.set(reg, arm.r[reg]);
        regs.set(15, pc);
        return regs;
    }
    static ByteVector words(std::initializer_list<std::uint32_t> list) {
        Emitter out;
        for (std::uint32_t w : list) out.u32(w);
        return out.data();
    }

    Emitter index, extabBytes;
    std::unique_ptr<ExidxTable> exidx;
};

TEST_F(ExidxTableTest, EntriesAndFunctionExtents) {
    entry(0x10100, ExidxTable::kCantUnwind);
    entry(0x10200, 0x80A8B0B0);
    entry(0x10280, 0x80B0B0B0);
    ExidxTable& t = table();
    const StepEnvironment env = environment();
    EXPECT_FALSE(t.entryFor(env, 0x100FF));
    EXPECT_EQ(t.entryFor(env, 0x10100)->index, 0u);
    EXPECT_EQ(t.entryFor(env, 0x101FF)->index, 0u);
    EXPECT_EQ(t.entryFor(env, 0x10200)->index, 1u);
    std::optional<FunctionExtent> extent = t.functionAt(env, 0x10234);
    ASSERT_TRUE(extent);
    EXPECT_EQ(extent->start, 0x10200u);
    EXPECT_EQ(extent->length, 0x80u);
    EXPECT_EQ(t.functionAt(env, 0x10900)->length, 0u);  // the last function's end is unknown
    // A function start before the index (negative prel31) is found too.
    Emitter before;
    before.u32(prel31(kIndex, 0x10000)).u32(1);
    memory.add(kIndex, before.data());
    ExidxTable early("libfoo.so", kIndex, 1);
    EXPECT_EQ(early.entryFor(env, 0x10004)->functionStart, 0x10000u);
}

TEST_F(ExidxTableTest, PersonalityForms) {
    // 0: inline short form; 1: generic personality with two more words; 2: long form index 1
    // with one more word; 3: index 1 inline (no room); 4: reserved index 3 in .ARM.extab.
    entry(0x10000, 0x80A8B0B0);
    entry(0x10100, 0, words({0x7FFFF000, 0x02A8B001, 0xB1010000, 0x00B0B0B0}));
    entry(0x10200, 0, words({0x8101A8B0, 0xB0B0B0B0}));
    entry(0x10300, 0x8100A8B0);
    entry(0x10400, 0, words({0x83000000}));
    ExidxTable& t = table();
    const StepEnvironment env = environment();
    auto bytesOf = [&](TargetWord pc) {
        ExidxProgram program;
        ExidxRun run = t.program(env, *t.entryFor(env, pc), program);
        return std::make_pair(run, ByteVector(program.bytes.begin(), program.bytes.begin() + program.size));
    };
    EXPECT_EQ(bytesOf(0x10000).second, (ByteVector{0xA8, 0xB0, 0xB0}));
    EXPECT_EQ(bytesOf(0x10100).second, (ByteVector{0xA8, 0xB0, 0x01, 0xB1, 0x01, 0x00, 0x00, 0x00, 0xB0, 0xB0, 0xB0}));
    EXPECT_EQ(bytesOf(0x10200).second, (ByteVector{0xA8, 0xB0, 0xB0, 0xB0, 0xB0, 0xB0}));
    EXPECT_EQ(bytesOf(0x10300).first, ExidxRun::Failed);
    EXPECT_EQ(bytesOf(0x10400).first, ExidxRun::Failed);
}

TEST_F(ExidxTableTest, Steps) {
    entry(0x10000, ExidxTable::kCantUnwind);
    entry(0x10100, 0x80A8B0B0);
    entry(0x10200, 0x808000B0);  // refuse to unwind
    entry(0x10300, 0, words({0x81030000}));  // claims three more words past the readable bytes
    ExidxTable& t = table();
    const StepEnvironment env = environment();
    struct Case {
        TargetWord pc;
        StepStatus status;
    };
    for (const Case& c : {Case{0x0FFFF, StepStatus::NoEntry}, Case{0x10010, StepStatus::CannotUnwind},
                          Case{0x10105, StepStatus::Stepped}, Case{0x10200, StepStatus::CannotUnwind},
                          Case{0x10300, StepStatus::Failed}}) {
        RegisterState regs = frameAt(c.pc);
        const StepStatus status = t.step(env, regs).status;
        EXPECT_EQ(status, kIs64 ? StepStatus::NoEntry : c.status) << std::hex << c.pc;
        if (!kIs64 && status == StepStatus::Stepped) {
            EXPECT_EQ(regs.r[15], word(kStack + 0x104));
            EXPECT_EQ(regs.r[13], kStack + 0x108);
            EXPECT_EQ(regs.valid & 0xFFFF, 0xAFF0u);  // r4-r11, SP, PC
        }
    }
}

TEST_F(ExidxTableTest, AnIndexCutShortInTheDump) {
    entry(0x10000, 0x80B0B0B0);
    entry(0x10100, 0x80B0B0B0);
    ExidxTable& t = table(100);
    EXPECT_EQ(t.count(environment()), 2u);
    EXPECT_EQ(errors(), "Error: <libfoo.so> .ARM.exidx segment address(" + common::format(kAddressFormat, kIndex).text +
                            ") is corrupted\n");
    EXPECT_TRUE(t.entryFor(environment(), 0x10104));
    ExidxTable missing("libbar.so", 0x90000, 4);
    EXPECT_FALSE(missing.entryFor(environment(), 0x10104));
}

TEST_F(ExidxTableTest, CfiComesBeforeTheIndexInAModule) {
    entry(0x10100, 0x80A8B0B0);
    table();
    ModuleTables tables;
    tables.name = "libfoo.so";
    tables.exidx = kIndex;
    tables.exidxCount = 1;
    ModuleUnwinder module(tables);
    RegisterState regs = frameAt(0x10104);
    const StepResult result = module.step(environment(), regs);
    EXPECT_EQ(result.status, kIs64 ? StepStatus::NoEntry : StepStatus::Stepped);
    EXPECT_EQ(result.source, kIs64 ? StepSource::None : StepSource::Exidx);
    if (!kIs64) {
        EXPECT_EQ(module.exidxFunctionAt(environment(), 0x10105)->start, 0x10100u);
    }
}

}  // namespace

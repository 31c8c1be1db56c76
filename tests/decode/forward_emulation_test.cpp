// Forward emulation to a function's return: hand-made epilogues in each instruction set, the
// bounds on loops and exploration, and entry-to-return runs over compiled code that has no
// unwind tables, checked against the calling convention.
#include <gtest/gtest.h>

#include "analyzer/decode/effects.h"
#include "analyzer/decode/emulator.h"
#include "analyzer/decode/forward_emulation.h"
#include "tests/decode/decode_support.h"

namespace {

using namespace coresift::decode;
using decodetest::FakeMemory;

constexpr TargetWord kStack = 0x7F000000;
constexpr TargetWord kStackSize = 0x10000;

RegisterState frameAt(TargetWord pc, TargetWord sp) {
    RegisterState s;
    for (unsigned r = 0; r < kValueRegisterCount; ++r) s.set(r, static_cast<TargetWord>(0x100 + r));
    s.set(kRegPc, pc);
    s.set(kRegSp, sp);
    return s;
}

void addStack(FakeMemory& memory, std::initializer_list<std::pair<TargetWord, TargetWord>> words) {
    std::vector<std::uint8_t> bytes(kStackSize);
    for (const auto& [address, value] : words) std::memcpy(&bytes[address - kStack], &value, sizeof value);
    memory.add(kStack, std::move(bytes));
}

#if CORESIFT_TARGET_BITS == 32

TEST(ForwardEmulation, ArmEpilogueAfterACall) {
    FakeMemory memory;
    memory.addWords(0x1000, {0xE92D4010, 0xE24DD008, 0xE1A04000, 0xEB0003FB, 0xE28DD008, 0xE8BD8010});
    const TargetWord sp = kStack + 0x100;
    addStack(memory, {{sp + 8, 0x44}, {sp + 12, 0x5554}});
    const EmulationResult r = emulateToReturn(frameAt(0x1008, sp), memory);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.caller.r[kRegPc], 0x5554u);
    EXPECT_EQ(r.caller.r[kRegSp], sp + 16);
    EXPECT_EQ(r.caller.r[4], 0x44u);
    EXPECT_FALSE(r.caller.known(0));   // clobbered by the call and by the convention
    EXPECT_FALSE(r.caller.known(14));
    EXPECT_TRUE(r.caller.known(5));
}

TEST(ForwardEmulation, ThumbEpilogueReturnsToThumbCaller) {
    FakeMemory memory;
    // PUSH {R4, LR}; SUB SP, #8; MOVS R4, R0; BL 0x2000; ADD SP, #8; POP {R4, PC}
    memory.addHalfwords(0x1000, {0xB510, 0xB082, 0x0004, 0xF000, 0xFFFB, 0xB002, 0xBD10});
    const TargetWord sp = kStack + 0x100;
    addStack(memory, {{sp + 8, 0x44}, {sp + 12, 0x6001}});
    const EmulationResult r = emulateToReturn(frameAt(0x1005, sp), memory);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.caller.r[kRegPc], 0x6001u);
    EXPECT_EQ(r.caller.r[kRegSp], sp + 16);
    EXPECT_EQ(r.caller.r[4], 0x44u);
}

// A loop whose exit is a forward conditional branch: the straight path comes back to the branch,
// and the branch is then taken to the epilogue.
TEST(ForwardEmulation, ArmAndThumbLoopsLeaveByTheirForwardExit) {
    FakeMemory memory;
    // CMP R0, #1 ; BEQ 0x1010 ; BL 0x2000 ; B 0x1000 ; POP {R4, PC}
    memory.addWords(0x1000, {0xE3500001, 0x0A000001, 0xEB0003FC, 0xEAFFFFFB, 0xE8BD8010});
    // CMP R0, #1 ; BEQ 0x300C ; BL ; B 0x3000 ; NOP ; POP {R4, PC}
    memory.addHalfwords(0x3000, {0x2801, 0xD003, 0xF000, 0xF800, 0xE7FA, 0xBF00, 0xBD10});
    const TargetWord sp = kStack + 0x100;
    addStack(memory, {{sp, 0x44}, {sp + 4, 0x5554}});
    for (const TargetWord pc : {TargetWord{0x1000}, TargetWord{0x3001}}) {
        const EmulationResult r = emulateToReturn(frameAt(pc, sp), memory);
        ASSERT_TRUE(r.ok) << std::hex << pc;
        EXPECT_EQ(r.caller.r[kRegPc], 0x5554u);
        EXPECT_EQ(r.caller.r[kRegSp], sp + 8);
        EXPECT_EQ(r.caller.r[4], 0x44u);
        EXPECT_LT(r.instructions, 40u);
    }
}

TEST(ForwardEmulation, ArmRunningOffTheRegionFails) {
    FakeMemory memory;
    memory.addWords(0x1000, {0xE28DD008, 0xE1A00000});  // ADD SP, SP, #8 ; MOV R0, R0 ; (end)
    addStack(memory, {});
    EXPECT_FALSE(emulateToReturn(frameAt(0x1000, kStack + 0x100), memory).ok);
}

#else

TEST(ForwardEmulation, A64EpilogueAfterACall) {
    FakeMemory memory;
    memory.addWords(0x1000, {0xA9BE7BFD, 0x910003FD, 0xF9000BF3, 0xAA0003F3, 0x940003FC, 0xF9400BF3, 0xA8C27BFD,
                             0xD65F03C0});
    const TargetWord sp = kStack + 0x100;
    addStack(memory, {{sp, 0x2929}, {sp + 8, 0x7777}, {sp + 16, 0x1919}});
    const EmulationResult r = emulateToReturn(frameAt(0x100C, sp), memory);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.caller.r[kRegPc], 0x7777u);
    EXPECT_EQ(r.caller.r[kRegSp], sp + 32);
    EXPECT_EQ(r.caller.r[19], 0x1919u);
    EXPECT_EQ(r.caller.r[29], 0x2929u);
    EXPECT_FALSE(r.caller.known(0));
    EXPECT_FALSE(r.caller.known(30));
}

TEST(ForwardEmulation, A64TailCallReturnsThroughLinkRegister) {
    FakeMemory memory;
    memory.addWords(0x1000, {0xA8C17BFD, 0x14000400});  // LDP X29, X30, [SP], #16 ; B 0x2004
    const TargetWord sp = kStack + 0x100;
    addStack(memory, {{sp, 0x2929}, {sp + 8, 0x7778}});
    const EmulationResult r = emulateToReturn(frameAt(0x1000, sp), memory);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.caller.r[kRegPc], 0x7778u);
}

// A conditional branch back below the start is explored first; the loop the straight path runs
// into is cut by the instruction budget.
TEST(ForwardEmulation, A64BackwardBranchExplorationAndBudget) {
    FakeMemory memory;
    memory.addWords(0x1000, {0xA8C17BFD, 0xD65F03C0, 0xF100041F, 0x54FFFFA0, 0x14000000});
    const TargetWord sp = kStack + 0x100;
    addStack(memory, {{sp, 0x2929}, {sp + 8, 0x7777}});
    EmulationResult r = emulateToReturn(frameAt(0x1008, sp), memory);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.caller.r[kRegPc], 0x7777u);

    memory.addWords(0x3000, {0x14000000});  // B . with nothing else
    r = emulateToReturn(frameAt(0x3000, sp), memory, EmulationLimits{500, 4});
    EXPECT_FALSE(r.ok);
    EXPECT_LE(r.instructions, 500u);
}

// Forward conditional branches fall through while the straight path returns; a path that comes
// back to a branch it passed takes that branch instead.
TEST(ForwardEmulation, A64ForwardBranchesAreTakenWhenTheStraightPathFails) {
    FakeMemory memory;
    // CMP X0, #1 ; B.NE 0x1010 ; LDP X29, X30, [SP], #16 ; RET ; ADD SP, SP, #32 ; RET
    memory.addWords(0x1000, {0xF100041F, 0x54000061, 0xA8C17BFD, 0xD65F03C0, 0x910083FF, 0xD65F03C0});
    // CMP X0, #1 ; B.EQ 0x2010 ; BL 0x3000 ; B 0x2000 ; LDP X29, X30, [SP], #16 ; RET
    memory.addWords(0x2000, {0xF100041F, 0x54000060, 0x940003FE, 0x17FFFFFD, 0xA8C17BFD, 0xD65F03C0});
    const TargetWord sp = kStack + 0x100;
    addStack(memory, {{sp, 0x2929}, {sp + 8, 0x7777}});
    EmulationResult r = emulateToReturn(frameAt(0x1000, sp), memory);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.caller.r[kRegPc], 0x7777u);
    EXPECT_EQ(r.caller.r[kRegSp], sp + 16);

    r = emulateToReturn(frameAt(0x2000, sp), memory);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.caller.r[kRegPc], 0x7777u);
    EXPECT_EQ(r.caller.r[29], 0x2929u);
    EXPECT_LT(r.instructions, 40u);
}

TEST(ForwardEmulation, A64ResultNeedsTheStackToUnwind) {
    FakeMemory memory;
    memory.addWords(0x1000, {0xD65F03C0});  // RET with SP unchanged
    addStack(memory, {});
    EXPECT_FALSE(emulateToReturn(frameAt(0x1000, kStack + 0x100), memory).ok);
    // An unreadable return address (stack outside the dump) gives no result either.
    FakeMemory code;
    code.addWords(0x1000, {0xA8C17BFD, 0xD65F03C0});
    EXPECT_FALSE(emulateToReturn(frameAt(0x1000, 0x10), code).ok);
}

#endif

// Runs a function from its entry to its first call, as a frame stopped at a call site looks (its
// stores land in the stack of `memory`); no state when the function returns or branches first.
bool runToFirstCall(FakeMemory& memory, RegisterState& state) {
    StoreLog stores;
    InstructionEmulator emulator(state, memory, stores);
    ItBlock block;
    TargetWord pc = state.r[kRegPc];
    for (unsigned i = 0; i < 64; ++i) {
        const InstructionSet set = setOfAddress(pc);
        const TargetWord address = pc & ~TargetWord{1};
        std::uint32_t word = 0;
        if (set == InstructionSet::Thumb) {
            std::uint16_t first = 0, second = 0;
            if (!memory.read16(address, first)) return false;
            if (thumbLength(first) == 4) memory.read16(address + 2, second);
            word = first | (std::uint32_t{second} << 16);
        } else if (!memory.read32(address, word)) {
            return false;
        }
        const StepResult step = emulator.step(set, address, word, &block);
        if (step.kind == StepResult::Call) {
            state.set(kRegPc, pc + step.length);
            state.forgetMask(kCallClobbered);
            std::vector<std::uint8_t> stack(kStackSize);
            for (TargetWord at = 0; at < kStackSize; at += sizeof(TargetWord)) {
                std::uint64_t value = 0;
                stores.read(memory, kStack + at, sizeof(TargetWord), value);
                std::memcpy(&stack[at], &value, sizeof(TargetWord));
            }
            memory.add(kStack, std::move(stack));
            return true;
        }
        if (step.kind != StepResult::Next && step.kind != StepResult::Conditional) return false;
        pc += step.length;
    }
    return false;
}

// Compiled functions stopped at their first call are emulated to their return: every return
// found must restore SP, give PC = LR and the callee-saved registers, as the calling convention
// says.
TEST(ForwardEmulation, CompiledFunctionsReturnToTheirCaller) {
    const char* fixtures[] = {kIs64 ? "sample_a64.so" : "sample_arm.so", kIs64 ? nullptr : "sample_thumb.so"};
    unsigned returned = 0, tried = 0;
    for (const char* fixture : fixtures) {
        if (!fixture) continue;
        const std::string path = decodetest::decodeFixture(fixture);
        if (path.empty()) GTEST_SKIP() << fixture << " was not built (cross toolchain missing)";
        const decodetools::ElfFile elf = decodetest::readElf(path);
        FakeMemory memory;
        ASSERT_TRUE(decodetest::loadSections(elf, memory));
        addStack(memory, {});
        for (const decodetools::Symbol& f : elf.symbols()) {
            if (f.type != 2 || f.size == 0 || f.value == 0) continue;
            const TargetWord sp = kStack + 0x8000, returnAddress = 0x5000;
            RegisterState entry = frameAt(static_cast<TargetWord>(f.value), sp);
            entry.set(kRegLr, returnAddress);
            RegisterState atCall = entry;
            if (!runToFirstCall(memory, atCall)) continue;
            ++tried;
            const EmulationResult r = emulateToReturn(atCall, memory);
            if (!r.ok) continue;
            ++returned;
            EXPECT_EQ(r.caller.r[kRegPc], returnAddress) << f.name;
            EXPECT_EQ(r.caller.r[kRegSp], sp) << f.name;
            const unsigned firstSaved = kIs64 ? 19 : 4, lastSaved = kIs64 ? 29 : 11;
            for (unsigned reg = firstSaved; reg <= lastSaved; ++reg) {
                if (r.caller.known(reg)) {
                    EXPECT_EQ(r.caller.r[reg], entry.r[reg]) << f.name << " r" << reg;
                }
            }
        }
    }
    EXPECT_GE(tried, 3u);
    EXPECT_EQ(returned, tried) << returned << " of " << tried << " functions ran to a return";
}

}  // namespace

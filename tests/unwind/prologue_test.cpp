// Prologue analysis on hand-assembled ARM, Thumb and A64 functions (encodings from llvm-mc).
#include <gtest/gtest.h>

#include "analyzer/unwind/prologue_analysis.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::ByteVector;
using testsupport::Emitter;

constexpr TargetWord kCode = 0x10000;
constexpr TargetWord kStack = 0x70000;
constexpr TargetWord kSp = kStack + 0x200;
constexpr TargetWord kStackWord = 0x5000000;
constexpr unsigned kWord = sizeof(TargetWord);
constexpr unsigned kSpReg = coresift::decode::kRegSp, kLrReg = coresift::decode::kRegLr,
                   kPcReg = coresift::decode::kRegPc;

class Prologue : public testsupport::UnwindTest {
protected:
    Prologue() { memory.addWords(kStack, 1024, kStackWord, 1); }
    void code(std::initializer_list<std::uint32_t> words, unsigned size = 4) {
        Emitter out;
        for (std::uint32_t w : words) out.raw(w, size);
        out.raw(0, 16);
        memory.add(kCode, out.data());
    }
    RegisterState frame(TargetWord pc) const {
        RegisterState regs;
        for (unsigned reg = 0; reg < coresift::decode::kValueRegisterCount; ++reg) regs.set(reg, 0x100 + reg);
        regs.set(kSpReg, kSp);
        regs.set(kPcReg, pc);
        return regs;
    }
    static TargetWord word(TargetWord address) { return kStackWord + (address - kStack) / kWord; }
};

TEST_F(Prologue, ArmPushFramePointerAndLocals) {
    if (kIs64) GTEST_SKIP() << "A32 code is CoreSift's";
    // push {r4, r11, lr}; add r11, sp, #4; sub sp, sp, #16; mov r4, r0; bl
    code({0xE92D4810, 0xE28DB004, 0xE24DD010, 0xE1A04000, 0xEB000040});
    RegisterState regs = frame(kCode + 16);
    ASSERT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Stepped);
    const TargetWord entry = kSp + 16 + 12;
    EXPECT_EQ(regs.r[kSpReg], entry);
    EXPECT_EQ(regs.r[kPcReg], word(entry - 4));
    EXPECT_EQ(regs.r[11], word(entry - 8));
    EXPECT_EQ(regs.r[4], word(entry - 12));
    EXPECT_TRUE(regs.known(5));
    EXPECT_EQ(regs.r[5], 0x105u);
    for (unsigned reg : {0u, 1u, 2u, 3u, 12u, 14u}) EXPECT_FALSE(regs.known(reg)) << reg;

    // Stopped inside the prologue: only what ran counts.
    regs = frame(kCode + 4);
    ASSERT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Stepped);
    EXPECT_EQ(regs.r[kSpReg], kSp + 12);
    EXPECT_EQ(regs.r[kPcReg], word(kSp + 8));
    // At the first instruction nothing is saved: the return address is still in LR.
    regs = frame(kCode);
    ASSERT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Stepped);
    EXPECT_EQ(regs.r[kSpReg], kSp);
    EXPECT_EQ(regs.r[kPcReg], 0x10Eu);
}

TEST_F(Prologue, ThumbWithVectorRegisters) {
    if (kIs64) GTEST_SKIP() << "T32 code is CoreSift's";
    // push {r4, r7, lr}; add r7, sp, #4; sub sp, #144; movs r4, r0; vpush {d8, d9}; bl
    code({0xB590, 0xAF01, 0xB0A4, 0x0004, 0xED2D, 0x8B04, 0xF000, 0xF880}, 2);
    RegisterState regs = frame((kCode + 12) | 1);
    ASSERT_EQ(stepByPrologue(environment(), kCode | 1, regs).status, StepStatus::Stepped);
    const TargetWord entry = kSp + 16 + 144 + 12;
    EXPECT_EQ(regs.r[kSpReg], entry);
    EXPECT_EQ(regs.r[kPcReg], word(entry - 4));
    EXPECT_EQ(regs.r[7], word(entry - 8));
    EXPECT_EQ(regs.r[4], word(entry - 12));
}

TEST_F(Prologue, A64FrameRecordAndCalleeSavedRegister) {
    if (!kIs64) GTEST_SKIP() << "A64 code is CoreSift64's";
    // stp x29, x30, [sp, #-32]!; mov x29, sp; str x19, [sp, #16]; sub sp, sp, #64; mov x19, x0; bl
    code({0xA9BE7BFD, 0x910003FD, 0xF9000BF3, 0xD10103FF, 0xAA0003F3, 0x94000040});
    RegisterState regs = frame(kCode + 20);
    ASSERT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Stepped);
    const TargetWord entry = kSp + 64 + 32;
    EXPECT_EQ(regs.r[kSpReg], entry);
    EXPECT_EQ(regs.r[29], word(entry - 32));
    EXPECT_EQ(regs.r[kPcReg], word(entry - 24));
    EXPECT_EQ(regs.r[19], word(entry - 16));
    EXPECT_EQ(regs.r[20], 0x100u + 20);
    EXPECT_FALSE(regs.known(0));
    EXPECT_FALSE(regs.known(kLrReg));
}

TEST_F(Prologue, WhatThePrologueCannotTell) {
    const bool a64 = kIs64;
    // A branch ends the prologue: the push after it is not counted, so LR is taken as unchanged.
    if (a64) code({0x14000002, 0xA9BE7BFD, 0xD503201F});  // b +8; stp x29, x30, [sp, #-32]!; nop
    else code({0xEA000000, 0xE92D4010, 0xE1A00000});      // b +8; push {r4, lr}; nop
    RegisterState regs = frame(kCode + 8);
    ASSERT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Stepped);
    EXPECT_EQ(regs.r[kSpReg], kSp);
    EXPECT_EQ(regs.r[kPcReg], 0x100u + kLrReg);
    // SP set from a register the analysis does not know: no answer.
    if (a64) code({0x9100001F, 0xD503201F});  // mov sp, x0; nop
    else code({0xE1A0D000, 0xE1A00000});      // mov sp, r0; nop
    regs = frame(kCode + 4);
    EXPECT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Failed);
    // LR unknown and not saved: no return address.
    regs = frame(kCode);
    regs.forget(kLrReg);
    EXPECT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Failed);
    // A start above the pc, or code that cannot be read.
    regs = frame(kCode);
    EXPECT_EQ(stepByPrologue(environment(), kCode + 8, regs).status, StepStatus::Failed);
    regs = frame(0x900008);
    EXPECT_EQ(stepByPrologue(environment(), 0x900000, regs).status, StepStatus::Failed);
}

TEST_F(Prologue, ProloguesAfterAnEarlyExit) {
    // A conditional branch past the pc falls through into the prologue (shrink-wrapped code), and
    // a path that returns before the pc resumes at the branch that avoided the return.
    TargetWord frameSize = 0;
    if constexpr (kIs64) {
        // cbz x0, +64; stp x29, x30, [sp, #-16]!; bl
        code({0xB4000200, 0xA9BF7BFD, 0x94000040});
        frameSize = 16;
    } else {
        // cmp r0, #0; beq +64; push {lr}; sub sp, sp, #16; bl
        code({0xE3500000, 0x0A000010, 0xE52DE004, 0xE24DD010, 0xEB000040});
        frameSize = 20;
    }
    RegisterState regs = frame(kCode + (kIs64 ? 8 : 16));
    ASSERT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Stepped);
    EXPECT_EQ(regs.r[kSpReg], kSp + frameSize);
    EXPECT_EQ(regs.r[kPcReg], word(kSp + frameSize - (kIs64 ? 8 : 4)));

    if constexpr (kIs64) {
        // cbnz x0, +8; ret; stp x29, x30, [sp, #-16]!; bl
        code({0xB5000040, 0xD65F03C0, 0xA9BF7BFD, 0x94000040});
        frameSize = 16;
    } else {
        // cmp r0, #0; bne +12; bx lr; push {r4, lr}; sub sp, sp, #8; bl
        code({0xE3500000, 0x1A000000, 0xE12FFF1E, 0xE92D4010, 0xE24DD008, 0xEB000040});
        frameSize = 16;
    }
    regs = frame(kCode + (kIs64 ? 12 : 20));
    ASSERT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Stepped);
    EXPECT_EQ(regs.r[kSpReg], kSp + frameSize);
    EXPECT_EQ(regs.r[kPcReg], word(kSp + frameSize - (kIs64 ? 8 : 4)));
}

// A pc that only a backward branch reaches: the paths the analysis follows run into the
// epilogue and return, and what they leave behind is not the frame at the pc.
TEST_F(Prologue, PathsThatPopTheFrameTellNothing) {
    if constexpr (kIs64) {
        // stp x29, x30, [sp, #-32]!; b.ne +16; ldp x29, x30, [sp], #32; ret; bl (pc); b -4
        code({0xA9BE7BFD, 0x54000081, 0xA8C27BFD, 0xD65F03C0, 0x94000040, 0x17FFFFFF});
    } else {
        // push {r4, lr}; sub sp, sp, #8; cmp r0, #0; bne +16; add sp, sp, #8; pop {r4, pc}; bl (pc); b -4
        code({0xE92D4010, 0xE24DD008, 0xE3500000, 0x1A000002, 0xE28DD008, 0xE8BD8010, 0xEB000040, 0xEAFFFFFD});
    }
    RegisterState regs = frame(kCode + (kIs64 ? 16 : 24));
    const RegisterState before = regs;
    EXPECT_EQ(stepByPrologue(environment(), kCode, regs).status, StepStatus::Failed);
    EXPECT_EQ(regs.r[kSpReg], before.r[kSpReg]);
}

}  // namespace

// Argument values recovered backwards from a call site.
#include <gtest/gtest.h>

#include "analyzer/decode/argument_scanner.h"
#include "analyzer/decode/effects.h"
#include "tests/decode/decode_support.h"

namespace {

using namespace coresift::decode;
using decodetest::FakeMemory;

RegisterState callerFrame(TargetWord sp) {
    RegisterState s;
    for (unsigned r = 0; r < kValueRegisterCount; ++r) s.set(r, static_cast<TargetWord>(0x100 + r));
    s.forgetMask(kCallClobbered);  // what unwinding restores for a caller frame
    s.set(kRegSp, sp);
    return s;
}

void addStackWords(FakeMemory& memory, TargetWord at, std::initializer_list<TargetWord> words) {
    std::vector<std::uint8_t> bytes(words.size() * sizeof(TargetWord));
    std::size_t i = 0;
    for (TargetWord w : words) std::memcpy(&bytes[sizeof(TargetWord) * i++], &w, sizeof w);
    memory.add(at, std::move(bytes));
}

#if CORESIFT_TARGET_BITS == 32

TEST(ArgumentScanner, ArmConstantsCopiesStackAndLiterals) {
    FakeMemory memory;
    memory.addWords(0x1000, {
        0xE3A00005,  // MOV R0, #5
        0xE1A01004,  // MOV R1, R4          (R4 known in the frame)
        0xE59D2008,  // LDR R2, [SP, #8]
        0xE28D3010,  // ADD R3, SP, #16
        0xEB000000,  // BL                  <- call site 0x1010
        0x12345678});
    addStackWords(memory, 0x8000, {0, 0, 0xCAFE});
    const ArgumentValues v = recoverArguments(memory, 0x1010, callerFrame(0x8000), 4);
    EXPECT_EQ(v.known, 0xF);
    EXPECT_EQ(v.value[0], 5u);
    EXPECT_EQ(v.value[1], 0x104u);
    EXPECT_EQ(v.value[2], 0xCAFEu);
    EXPECT_EQ(v.value[3], 0x8010u);
}

TEST(ArgumentScanner, ArmCallsAndBranchesCutTheTrail) {
    FakeMemory memory;
    memory.addWords(0x1000, {
        0xE59F0010,  // LDR R0, [PC, #16]  (literal at 0x1018)
        0xE3A01001,  // MOV R1, #1
        0xEB000000,  // BL: clobbers R0-R3
        0xE2812001,  // ADD R2, R1, #1     (R1 unknown after the call)
        0xEB000000,  // BL                 <- call site 0x1010
        0x00000000, 0x0000BEEF});
    ArgumentValues v = recoverArguments(memory, 0x1010, callerFrame(0x8000), 4);
    EXPECT_EQ(v.known, 0u);
    memory.addWords(0x2000, {
        0xE3A00007,  // MOV R0, #7         (not on the path: an unconditional branch follows)
        0xEA000000,  // B
        0xE3A01002,  // MOV R1, #2
        0xEB000000});  // BL               <- call site 0x200C
    v = recoverArguments(memory, 0x200C, callerFrame(0x8000), 2);
    EXPECT_EQ(v.known, 0x2);
    EXPECT_EQ(v.value[1], 2u);
}

TEST(ArgumentScanner, ArmStackAdjustmentsAndLiteralPool) {
    FakeMemory memory;
    memory.addWords(0x1000, {
        0xE59F0010,  // LDR R0, [PC, #16]   (literal at 0x1018)
        0xE1A0100D,  // MOV R1, SP          (SP before the push)
        0xE92D0010,  // PUSH {R4}
        0xE24DD008,  // SUB SP, SP, #8
        0xEB000000,  // BL                  <- call site 0x1010
        0x00000000, 0x0000BEEF});
    const ArgumentValues v = recoverArguments(memory, 0x1010, callerFrame(0x8000), 2);
    EXPECT_EQ(v.known, 0x3);
    EXPECT_EQ(v.value[0], 0xBEEFu);
    EXPECT_EQ(v.value[1], 0x800Cu);  // 0x8000 + 8 + 4
}

// A run of instructions that each read their destination twice cannot make the scan explode:
// the look-ups are bounded, and the value still comes out when the chain is short enough.
TEST(ArgumentScanner, ArmLongDependencyChainsAreBounded) {
    FakeMemory memory;
    std::vector<std::uint8_t> code;
    auto put = [&](std::uint32_t w) { for (int i = 0; i < 4; ++i) code.push_back(static_cast<std::uint8_t>(w >> (8 * i))); };
    put(0xE3A00001);                                   // MOV R0, #1
    for (int i = 0; i < 22; ++i) put(0xE0800000);     // ADD R0, R0, R0
    put(0xEB000000);                                   // BL
    memory.add(0x1000, code);
    const TargetWord call = 0x1000 + 4 * 23;
    const ArgumentValues v = recoverArguments(memory, call, callerFrame(0x8000), 1);
    if (v.known & 1) {
        EXPECT_EQ(v.value[0], 1u << 22);
    }
}

TEST(ArgumentScanner, ThumbWindowFindsInstructionBoundaries) {
    FakeMemory memory;
    // MOVW R0, #0x1234 ; MOVT R0, #0xABCD ; MOVS R1, #9 ; ADDS R2, R1, #1 ; BLX R3 (call site 0x100C)
    memory.addHalfwords(0x1000, {0xF241, 0x2034, 0xF6CA, 0x30CD, 0x2109, 0x1C4A, 0x4798});
    const ArgumentValues v = recoverArguments(memory, 0x100D, callerFrame(0x8000), 3);
    EXPECT_EQ(v.known, 0x7);
    EXPECT_EQ(v.value[0], 0xABCD1234u);
    EXPECT_EQ(v.value[1], 9u);
    EXPECT_EQ(v.value[2], 10u);
}

#else

TEST(ArgumentScanner, A64PageAddressesCopiesAndFrameLoads) {
    FakeMemory memory;
    memory.addWords(0x10000, {
        0x90000080,  // ADRP X0, 0x20000
        0x91010000,  // ADD X0, X0, #0x40
        0xAA1303E1,  // MOV X1, X19         (X19 known in the frame)
        0xF85F83A2,  // LDUR X2, [X29, #-8]
        0x52800063,  // MOV W3, #3
        0x94000000});  // BL                <- call site 0x10014
    RegisterState frame = callerFrame(0x8000);
    frame.set(29, 0x8100);
    addStackWords(memory, 0x80F8, {0xFEEDull});
    const ArgumentValues v = recoverArguments(memory, 0x10014, frame, 5);
    EXPECT_EQ(v.known, 0xF);
    EXPECT_EQ(v.value[0], 0x20040u);
    EXPECT_EQ(v.value[1], 0x113u);
    EXPECT_EQ(v.value[2], 0xFEEDu);
    EXPECT_EQ(v.value[3], 3u);
}

TEST(ArgumentScanner, A64UnreadableCodeRecoversNothing) {
    FakeMemory memory;
    memory.addWords(0x10000, {0x94000000});
    const ArgumentValues v = recoverArguments(memory, 0x10000, callerFrame(0x8000), 8);
    EXPECT_EQ(v.known, 0u);
    EXPECT_EQ(recoverArguments(memory, 0x20000, callerFrame(0x8000), 8).known, 0u);
}

#endif

}  // namespace

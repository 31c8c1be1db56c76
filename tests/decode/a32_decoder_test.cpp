// The A32 front-end and the printer's CoreSift spelling.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 32

#include <gtest/gtest.h>

#include "analyzer/decode/decoder.h"
#include "tests/decode/decode_support.h"

namespace {

using namespace coresift::decode;
using decodetest::print;

std::string arm(std::uint32_t word, TargetWord address = 0x1000) { return print(InstructionSet::Arm, word, address); }

TEST(A32Decoder, UnconditionalSpaceByGroup) {
    // Condition 15: groups 001, 010, 011, 100, 111 are known but not modelled (barriers, CLREX
    // and the immediate preloads are); 110 is undefined.
    EXPECT_EQ(arm(0xF2000000), "UNIMPL F2000000");
    EXPECT_EQ(arm(0xF4000000), "UNIMPL F4000000");
    EXPECT_EQ(arm(0xF6000000), "UNIMPL F6000000");
    EXPECT_EQ(arm(0xF8000000), "UNIMPL F8000000");
    EXPECT_EQ(arm(0xFE000000), "UNIMPL FE000000");
    EXPECT_EQ(arm(0xFC000000), "UNDEF FC000000");
    EXPECT_EQ(arm(0xF57FF05B), "DMB ISH");
    EXPECT_EQ(arm(0xF57FF04F), "DSB SY");
    EXPECT_EQ(arm(0xF5D0F000), "PRFM PLDL1KEEP, [R0]");
    EXPECT_EQ(arm(0xFA000000), "BLX 1008");
    EXPECT_EQ(arm(0xFB000000), "BLX 100A");  // H bit: a halfword further
    EXPECT_EQ(arm(0xF1080080), "MSR DAIFClr #0x2");  // CPSIE I
    EXPECT_EQ(arm(0xF10C0080), "MSR DAIFSet #0x2");  // CPSID I
    EXPECT_EQ(arm(0xF1010200), "SETEND #0x1");
}

TEST(A32Decoder, NotModelledEncodings) {
    EXPECT_EQ(arm(0xE1000080), "UNIMPL E1000080");  // SMLABB: halfword multiply
    EXPECT_EQ(arm(0xE10F0000), "UNIMPL E10F0000");  // MRS
    EXPECT_EQ(arm(0xEE100A10), "UNIMPL EE100A10");  // VMOV R0, S0
    EXPECT_EQ(arm(0xE6000010), "UNIMPL E6000010");  // parallel add/subtract
    EXPECT_EQ(arm(0xE7F000F0), "UNDEF E7F000F0");   // UDF
}

TEST(A32Decoder, BranchesAndReturns) {
    EXPECT_EQ(arm(0xE12FFF1E), "RET");  // return through R14: no operand
    EXPECT_EQ(arm(0x012FFF1E), "RETEQ");
    EXPECT_EQ(arm(0xE12FFF13), "BX R3");
    EXPECT_EQ(arm(0xE12FFF33), "BLX R3");
    EXPECT_EQ(arm(0xEAFFFFFE), "B 1000");
    EXPECT_EQ(arm(0x1AFFFFFD), "BNE FFC");
    EXPECT_EQ(arm(0xEB000000), "BL 1008");
    EXPECT_EQ(arm(0xE1A0F00E), "MOV PC, R14");
}

TEST(A32Decoder, DataProcessing) {
    EXPECT_EQ(arm(0xE0810002), "ADD R0, R1, R2");
    EXPECT_EQ(arm(0xE0910002), "ADDS R0, R1, R2");
    EXPECT_EQ(arm(0xE3510000), "CMP R1, #0x0");  // compares print no destination
    EXPECT_EQ(arm(0xE3110001), "TST R1, #0x1");
    EXPECT_EQ(arm(0xE1310002), "TEQ R1, R2");
    EXPECT_EQ(arm(0xE1A00001), "MOV R0, R1");
    EXPECT_EQ(arm(0xE3E00000), "MVN R0, #0x0");
    EXPECT_EQ(arm(0xE3A004FF), "MOV R0, #-0x1000000");
    EXPECT_EQ(arm(0xE2400004), "SUB R0, R0, #0x4");
    EXPECT_EQ(arm(0xE2600000), "RSB R0, R0, #0x0");
    EXPECT_EQ(arm(0xE1C00001), "BIC R0, R0, R1");
    EXPECT_EQ(arm(0xE0A11000), "ADC R1, R1, R0");
    EXPECT_EQ(arm(0xE3001234), "MOV R1, #0x234");       // MOVW
    EXPECT_EQ(arm(0xE3401234), "MOVK R1, #0x234, LSL #16");  // MOVT
    EXPECT_EQ(arm(0xE16F0F11), "CLZ R0, R1");
    EXPECT_EQ(arm(0xE6BF0F31), "REV R0, R1");
    EXPECT_EQ(arm(0xE6EF0071), "UXTB R0, R1");
    EXPECT_EQ(arm(0xE6BF0071), "SXTH R0, R1");
    EXPECT_EQ(arm(0xE7E10251), "UBFX R0, R1, #0x4, #0x2");
    EXPECT_EQ(arm(0xE7C3001F), "BFC R0, #0, #4");
    EXPECT_EQ(arm(0xE7C70211), "BFI R0, R1, #4, #4");
    EXPECT_EQ(arm(0xE0000291), "MUL R0, R1, R2");
    EXPECT_EQ(arm(0xE0203291), "MADD R0, R1, R2, R3");
    EXPECT_EQ(arm(0xE0810392), "UMULL R0, R1, R2, R3");
    EXPECT_EQ(arm(0xE0E10392), "SMADDL R0, R1, R2, R3");
    EXPECT_EQ(arm(0xE710F211), "SDIV R0, R1, R2");
}

// Shifted register operands travel as bitfield descriptions; the printer recovers the shift.
TEST(A32Decoder, ShiftedRegisterOperands) {
    EXPECT_EQ(arm(0xE1A00101), "LSL R0, R1, #0x2");
    EXPECT_EQ(arm(0xE1A00121), "LSR R0, R1, #0x2");
    EXPECT_EQ(arm(0xE1A00021), "LSR R0, R1, #0x20");  // LSR #0 encodes #32
    EXPECT_EQ(arm(0xE1A00141), "ASR R0, R1, #0x2");
    EXPECT_EQ(arm(0xE1A00161), "ROR R0, R1, #0x2");
    EXPECT_EQ(arm(0xE1A00061), "RRX R0, R1");
    EXPECT_EQ(arm(0xE1A00251), "ASR R0, R1, R2");
    EXPECT_EQ(arm(0xE0810102), "ADD R0, R1, R2, LSL #0x2");
    EXPECT_EQ(arm(0xE0810352), "ADD R0, R1, R2, ASR R3");
}

TEST(A32Decoder, LoadsAndStores) {
    EXPECT_EQ(arm(0xE5910000), "LDR R0, [R1]");  // a zero offset is not shown...
    EXPECT_EQ(arm(0xE5B10000), "LDR R0, [R1, #0x0]!");  // ...unless the form needs it
    EXPECT_EQ(arm(0xE5910004), "LDR R0, [R1, #0x4]");
    EXPECT_EQ(arm(0xE5110004), "LDR R0, [R1, #-0x4]");
    EXPECT_EQ(arm(0xE4910004), "LDR R0, [R1], #0x4");
    EXPECT_EQ(arm(0xE7910102), "LDR R0, [R1, R2, LSL #0x2]");
    EXPECT_EQ(arm(0xE7110002), "LDR R0, [R1, -R2]");
    EXPECT_EQ(arm(0xE5D10000), "LDRB R0, [R1]");
    EXPECT_EQ(arm(0xE1D100F2), "LDRSH R0, [R1, #0x2]");
    EXPECT_EQ(arm(0xE1C100D8), "LDP R0, R1, [R1, #0x8]");  // LDRD
    EXPECT_EQ(arm(0xE4B10000), "LDTR R0, [R1], #0x0");
    EXPECT_EQ(arm(0xE92D4010), "STMDB SP!, {R4, R14}");
    EXPECT_EQ(arm(0xE8BD8010), "LDMIA SP!, {R4, PC}");
    EXPECT_EQ(arm(0xE8D00003), "LDMIA R0, {R0, R1}^");
    EXPECT_EQ(arm(0xE1910F9F), "LDXR R0, [R1]");
    EXPECT_EQ(arm(0xE1810F92), "STXR R0, R2, [R1]");
    EXPECT_EQ(arm(0xE1010092), "SWP R2, R0, [R1]");
    EXPECT_EQ(arm(0xED2D8B04), "VSTMDB SP!, {D8, D9}");
    EXPECT_EQ(arm(0xECBD8B04), "VLDMIA SP!, {D8, D9}");
    EXPECT_EQ(arm(0xED9F0A01), "VLDR S0, [PC, #0x4]");
}

TEST(A32Decoder, SystemInstructions) {
    EXPECT_EQ(arm(0xEF000000), "SVC");
    EXPECT_EQ(arm(0xEF900001), "SVC #0x900001");
    EXPECT_EQ(arm(0xE1200070), "BRK");
    EXPECT_EQ(arm(0xE1200171), "BRK #0x11");
    EXPECT_EQ(arm(0xE320F000), "NOP");
    EXPECT_EQ(arm(0xE320F003), "WFI");
}

}  // namespace

#endif

// The A64 front-end and the printer's CoreSift64 spelling.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 64

#include <gtest/gtest.h>

#include "analyzer/decode/decoder.h"
#include "tests/decode/decode_support.h"

namespace {

using namespace coresift::decode;
using decodetest::print;

std::string a64(std::uint32_t word, TargetWord address = 0x1000) { return print(InstructionSet::A64, word, address); }

TEST(A64Decoder, ReturnsBranchesAndSystemInstructions) {
    EXPECT_EQ(a64(0xD65F03C0), "RET");
    EXPECT_EQ(a64(0xD65F0020), "RET X1");
    EXPECT_EQ(a64(0xD61F0200), "BR X16");
    EXPECT_EQ(a64(0xD63F0100), "BLR X8");
    EXPECT_EQ(a64(0xD503201F), "NOP");
    EXPECT_EQ(a64(0xD5033FBF), "DMB SY");
    EXPECT_EQ(a64(0xD50330BF), "DMB");       // option 0 has no name and prints nothing
    EXPECT_EQ(a64(0xD5033B9F), "DSB ISH");
    EXPECT_EQ(a64(0xD4000001), "SVC");
    EXPECT_EQ(a64(0xD4200020), "BRK #0x1");
    EXPECT_EQ(a64(0x54000040), "BEQ 1008");
    EXPECT_EQ(a64(0x54FFFFE1), "BNE FFC");
    EXPECT_EQ(a64(0x17FFFFFF), "B FFC");
    EXPECT_EQ(a64(0x36080040), "TBZ W0, #1, 1008");
    EXPECT_EQ(a64(0xB7F80040), "TBNZ X0, #63, 1008");
    EXPECT_EQ(a64(0xB400001F), "CBZ XZR, 1000");  // register 31 is the zero register
    EXPECT_EQ(a64(0x35000041), "CBNZ W1, 1008");
    // Pointer-authenticating returns and calls are read as their plain forms.
    EXPECT_EQ(a64(0xD65F0BFF), "RET");
    EXPECT_EQ(a64(0xD73F0801), "BLR X0");
    // Hints beyond the named ones (PACIASP, BTI) are known but not modelled.
    EXPECT_EQ(a64(0xD503233F), "UNIMPL D503233F");
    EXPECT_EQ(a64(0xD50320DF), "NOP");  // hints 6 and 7
}

TEST(A64Decoder, UnmodelledAndUndefinedGroups) {
    for (std::uint32_t word : {0x0E000000u, 0x1E202800u, 0x4EA11C20u, 0xFE000000u, 0x7F000000u})
        EXPECT_EQ(a64(word).rfind("UNIMPL ", 0), 0u) << std::hex << word;  // groups 0111 and 1111
    for (std::uint32_t word : {0x00000000u, 0x06000000u, 0x05000000u})
        EXPECT_EQ(a64(word).rfind("UNDEF ", 0), 0u) << std::hex << word;
    EXPECT_EQ(a64(0x54000050), "UNDEF 54000050");  // B.cond with bit 4 set
    EXPECT_EQ(a64(0x12800000 | (1u << 22)), "UNDEF 12C00000");  // 32-bit logical immediate with N set
}

TEST(A64Decoder, DataProcessingAliases) {
    EXPECT_EQ(a64(0x8B020020), "ADD X0, X1, X2");
    EXPECT_EQ(a64(0xEB02001F), "CMP X0, X2");
    EXPECT_EQ(a64(0xF100043F), "CMP X1, #0x1");
    EXPECT_EQ(a64(0x910003E0), "MOV X0, SP");
    EXPECT_EQ(a64(0xAA0103E0), "MOV X0, X1");
    EXPECT_EQ(a64(0xAA2103E0), "MVN X0, X1");
    EXPECT_EQ(a64(0xCB0203E0), "NEG X0, X2");
    EXPECT_EQ(a64(0x12800000), "MOV W0, #-0x1");  // MOVN
    EXPECT_EQ(a64(0xD2A00020), "MOV X0, #0x10000");
    EXPECT_EQ(a64(0xF2A00020), "MOVK X0, #0x1, LSL #16");
    EXPECT_EQ(a64(0x90000000, 0x12345), "ADRP X0, 12000");
    EXPECT_EQ(a64(0x10000040, 0x2000), "ADD X0, PC, #0x8");
    EXPECT_EQ(a64(0xD37DF020), "LSL X0, X1, #0x3");
    EXPECT_EQ(a64(0xD343FC20), "LSR X0, X1, #0x3");
    EXPECT_EQ(a64(0x9343FC20), "ASR X0, X1, #0x3");
    EXPECT_EQ(a64(0x13817C20), "ROR W0, W1, #0x1F");
    EXPECT_EQ(a64(0x93407C20), "SXTW X0, W1");
    EXPECT_EQ(a64(0x53001C20), "UXTB W0, W1");
    EXPECT_EQ(a64(0xD3441C20), "UBFX X0, X1, #0x4, #0x4");
    EXPECT_EQ(a64(0xB3400420), "BFXIL X0, X1, #0, #2");
    EXPECT_EQ(a64(0xB37C0C20), "BFI X0, X1, #4, #4");
    EXPECT_EQ(a64(0x8B22C020), "ADD X0, X1, W2, SXTW");
    EXPECT_EQ(a64(0x8B224C20), "ADD X0, X1, W2, UXTW #0x3");
    EXPECT_EQ(a64(0x8B420C20), "ADD X0, X1, X2, LSR #0x3");
    EXPECT_EQ(a64(0x1A9F17E0), "CSET W0, EQ");
    EXPECT_EQ(a64(0xDA9F13E0), "CSETM X0, EQ");  // CSINV with both sources zero, NE inverted
    EXPECT_EQ(a64(0x9A820020), "CSEL X0, X1, X2, EQ");
    EXPECT_EQ(a64(0x7A410804), "CCMP W0, #0x1, #4, EQ");
    EXPECT_EQ(a64(0x9B027C20), "MUL X0, X1, X2");
    EXPECT_EQ(a64(0x9B028C20), "MSUB X0, X1, X2, X3");
    EXPECT_EQ(a64(0x9BA27C20), "UMULL X0, W1, W2");
    EXPECT_EQ(a64(0x9B427C20), "SMULH X0, X1, X2");
    EXPECT_EQ(a64(0x9AC20C20), "SDIV X0, X1, X2");
    EXPECT_EQ(a64(0xDAC00C20), "REV X0, X1");
    EXPECT_EQ(a64(0xDAC01020), "CLZ X0, X1");
}

TEST(A64Decoder, ZeroRegisterOperandsAreTheValueZero) {
    // A shifted or extended zero register carries no shift into the immediate argument.
    EXPECT_EQ(a64(0x0B3F43BE), "MOV W30, W29");
    EXPECT_EQ(a64(0x383FFB8C), "STRB W12, [X28]");
    EXPECT_EQ(a64(0x13007FE2), "MOV W2, #0x0");
}

TEST(A64Decoder, LoadsAndStores) {
    EXPECT_EQ(a64(0xF94003E0), "LDR X0, [SP]");  // base register 31 is SP
    EXPECT_EQ(a64(0xF9400420), "LDR X0, [X1, #0x8]");
    EXPECT_EQ(a64(0xA9BF7BFD), "STP X29, X30, [SP, #-0x10]!");
    EXPECT_EQ(a64(0xA8C17BFD), "LDP X29, X30, [SP], #0x10");
    EXPECT_EQ(a64(0xB8404420), "LDR W0, [X1], #0x4");
    EXPECT_EQ(a64(0xB85FC020), "LDUR W0, [X1, #-0x4]");
    EXPECT_EQ(a64(0x39400020), "LDRB W0, [X1]");
    EXPECT_EQ(a64(0x39C00020), "LDRSB W0, [X1]");
    EXPECT_EQ(a64(0xB9800020), "LDRSW X0, [X1]");
    EXPECT_EQ(a64(0xB8627820), "LDR W0, [X1, X2, LSL #0x2]");
    EXPECT_EQ(a64(0xB8A2C820), "LDRSW X0, [X1, W2, SXTW]");
    EXPECT_EQ(a64(0x58000040, 0x2000), "LDR X0, [PC, #0x8]");
    EXPECT_EQ(a64(0xC85F7C20), "LDXR X0, [X1]");
    EXPECT_EQ(a64(0xC8027C20), "STXR W2, X0, [X1]");
    EXPECT_EQ(a64(0xC8DFFC20), "LDAR X0, [X1]");
    EXPECT_EQ(a64(0x38E20020), "LDADDB W2, W0, [X1]");
    EXPECT_EQ(a64(0xF8A28020), "SWP X2, X0, [X1]");
    EXPECT_EQ(a64(0xF9800020), "PRFM PLDL1KEEP, [X1]");
    EXPECT_EQ(a64(0x6DBF27E8), "VSTP D8, D9, [SP, #-0x10]!");
    EXPECT_EQ(a64(0x3CC10420), "VLDR Q0, [X1], #0x10");
}

// Decoding touches nothing outside its arguments and finishes for every word: a sweep over a
// spread of the encoding space, each word through the printer.
TEST(A64Decoder, EveryWordDecodesToOneSlot) {
    struct Count {
        unsigned calls = 0;
    };
    static const Visitor counter = {
        [](std::uint32_t, unsigned, void* c) { return ++static_cast<Count*>(c)->calls, 0u; },
        [](std::uint32_t, std::int64_t, unsigned, unsigned, void* c) { return ++static_cast<Count*>(c)->calls, 0u; },
        [](std::uint32_t, unsigned, unsigned, unsigned, std::uint64_t, void* c) { return ++static_cast<Count*>(c)->calls, 0u; },
        [](std::uint32_t, const std::uint8_t*, unsigned, unsigned, std::int64_t, void* c) { return ++static_cast<Count*>(c)->calls, 0u; },
        [](std::uint32_t, std::uint64_t, void* c) { return ++static_cast<Count*>(c)->calls, 0u; },
    };
    std::uint32_t word = 0x12345678;
    for (int i = 0; i < 200000; ++i) {
        word = word * 1664525u + 1013904223u;
        Count count;
        unsigned length = 0;
        decodeA64(word, length, counter, &count);
        ASSERT_EQ(count.calls, 1u) << std::hex << word;
        ASSERT_EQ(length, 4u);
        ASSERT_FALSE(a64(word).empty());
    }
}

}  // namespace

#endif

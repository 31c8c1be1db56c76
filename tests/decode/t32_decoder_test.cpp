// The T32 front-end: the length rule, 16- and 32-bit encodings, IT blocks.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 32

#include <gtest/gtest.h>

#include "analyzer/decode/decoder.h"
#include "analyzer/decode/it_block.h"
#include "tests/decode/decode_support.h"

namespace {

using namespace coresift::decode;
using decodetest::print;

std::string thumb(std::uint32_t word, TargetWord address = 0x1000) { return print(InstructionSet::Thumb, word, address); }
// A 32-bit Thumb instruction from its halfwords in memory order.
std::uint32_t wide(std::uint16_t first, std::uint16_t second) { return first | (std::uint32_t{second} << 16); }

TEST(T32Decoder, LengthRule) {
    // Halfwords below 0xE800 are whole 16-bit instructions, 0xE000..0xE7FF being the branch;
    // from 0xE800 up a halfword starts a 32-bit instruction.
    EXPECT_EQ(thumbLength(0xE7FE), 2u);
    EXPECT_EQ(thumbLength(0xE000), 2u);
    EXPECT_EQ(thumbLength(0xE800), 4u);
    EXPECT_EQ(thumbLength(0xF000), 4u);
    EXPECT_EQ(thumbLength(0xDFFF), 2u);
    unsigned length = 0;
    const Visitor& v = kPrinterVisitor;
    TextSink out;
    PrintContext ctx{&out, InstructionSet::Thumb, 0x1000};
    decodeThumb(0xFFFFE7FE, length, v, &ctx);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(out.view(), "B 1000");  // the upper halfword is ignored
    EXPECT_EQ(thumb(wide(0xE92D, 0x4FF0)), "STMDB SP!, {R4, R5, R6, R7, R8, R9, R10, R11, R14}");
}

TEST(T32Decoder, NarrowEncodings) {
    EXPECT_EQ(thumb(0x4770), "RET");
    EXPECT_EQ(thumb(0x4718), "BX R3");
    EXPECT_EQ(thumb(0x4798), "BLX R3");
    EXPECT_EQ(thumb(0xB510), "STMDB SP!, {R4, R14}");
    EXPECT_EQ(thumb(0xBD10), "LDMIA SP!, {R4, PC}");
    EXPECT_EQ(thumb(0xB082), "SUB SP, SP, #0x8");
    EXPECT_EQ(thumb(0x2800), "CMP R0, #0x0");
    EXPECT_EQ(thumb(0x2001), "MOVS R0, #0x1");
    EXPECT_EQ(thumb(0x1C48), "ADDS R0, R1, #0x1");
    EXPECT_EQ(thumb(0x0088), "LSLS R0, R1, #0x2");
    EXPECT_EQ(thumb(0x4088), "LSLS R0, R0, R1");
    EXPECT_EQ(thumb(0x4240), "RSBS R0, R0, #0x0");
    EXPECT_EQ(thumb(0x4348), "MULS R0, R1, R0");
    EXPECT_EQ(thumb(0xB2C8), "UXTB R0, R1");
    EXPECT_EQ(thumb(0xBA08), "REV R0, R1");
    EXPECT_EQ(thumb(0x4801, 0x1002), "LDR R0, [PC, #0x4]");
    EXPECT_EQ(thumb(0x6848), "LDR R0, [R1, #0x4]");
    EXPECT_EQ(thumb(0x8848), "LDRH R0, [R1, #0x2]");
    EXPECT_EQ(thumb(0x5688), "LDRSB R0, [R1, R2]");
    EXPECT_EQ(thumb(0x9001), "STR R0, [SP, #0x4]");
    EXPECT_EQ(thumb(0xC90C), "LDMIA R1!, {R2, R3}");
    EXPECT_EQ(thumb(0xC803), "LDMIA R0, {R0, R1}");  // base in the list: no write-back
    EXPECT_EQ(thumb(0xB108), "CBZ R0, 1006");
    EXPECT_EQ(thumb(0xB918), "CBNZ R0, 100A");
    EXPECT_EQ(thumb(0xD0FE), "BEQ 1000");
    EXPECT_EQ(thumb(0xE7FE), "B 1000");
    EXPECT_EQ(thumb(0xDF01), "SVC #0x1");
    EXPECT_EQ(thumb(0xDE00), "UNDEF 0000DE00");
    EXPECT_EQ(thumb(0xBE01), "BRK #0x1");
    EXPECT_EQ(thumb(0xBF00), "NOP");
    EXPECT_EQ(thumb(0xBF18), "ITNE #0x18");
    EXPECT_EQ(thumb(0xB662), "MSR DAIFClr #0x2");  // CPSIE I
}

TEST(T32Decoder, WideEncodings) {
    EXPECT_EQ(thumb(wide(0xF000, 0xF800)), "BL 1004");
    EXPECT_EQ(thumb(wide(0xF7FF, 0xFFFE)), "BL 1000");
    EXPECT_EQ(thumb(wide(0xF000, 0xE800), 0x1002), "BLX 1004");  // target from the PC aligned down
    EXPECT_EQ(thumb(wide(0xF000, 0xB800)), "B 1004");
    EXPECT_EQ(thumb(wide(0xF040, 0x8000)), "BNE 1004");
    EXPECT_EQ(thumb(wide(0xE8DF, 0xF000)), "TBB [PC, R0]");
    EXPECT_EQ(thumb(wide(0xE8DF, 0xF010)), "TBH [PC, R0, LSL #0x1]");
    EXPECT_EQ(thumb(wide(0xF04F, 0x0001)), "MOV R0, #0x1");
    EXPECT_EQ(thumb(wide(0xF1B0, 0x3FFF)), "CMP R0, #-0x1");
    EXPECT_EQ(thumb(wide(0xF240, 0x0123)), "MOV R1, #0x23");
    EXPECT_EQ(thumb(wide(0xF2C1, 0x2345)), "MOVK R3, #0x1245, LSL #16");
    EXPECT_EQ(thumb(wide(0xEA4F, 0x0381)), "LSL R3, R1, #0x2");
    EXPECT_EQ(thumb(wide(0xEB01, 0x0082)), "ADD R0, R1, R2, LSL #0x2");
    EXPECT_EQ(thumb(wide(0xF8D1, 0x0004)), "LDR R0, [R1, #0x4]");
    EXPECT_EQ(thumb(wide(0xF851, 0x0B04)), "LDR R0, [R1], #0x4");
    EXPECT_EQ(thumb(wide(0xF851, 0x0D04)), "LDR R0, [R1, #-0x4]!");
    EXPECT_EQ(thumb(wide(0xF851, 0x0022)), "LDR R0, [R1, R2, LSL #0x2]");
    EXPECT_EQ(thumb(wide(0xE9D1, 0x0102)), "LDP R0, R1, [R1, #0x8]");
    EXPECT_EQ(thumb(wide(0xE851, 0x0F00)), "LDXR R0, [R1]");
    EXPECT_EQ(thumb(wide(0xFB02, 0xF001)), "MUL R0, R2, R1");
    EXPECT_EQ(thumb(wide(0xFB91, 0xF0F2)), "SDIV R0, R1, R2");
    EXPECT_EQ(thumb(wide(0xFAB1, 0xF081)), "CLZ R0, R1");
    EXPECT_EQ(thumb(wide(0xF3BF, 0x8F5B)), "DMB ISH");
    EXPECT_EQ(thumb(wide(0xED2D, 0x8B04)), "VSTMDB SP!, {D8, D9}");
    EXPECT_EQ(thumb(wide(0xFAD4, 0xF2A5)), "UNIMPL F2A5FAD4");  // CRC32CW
    EXPECT_EQ(thumb(wide(0xEE10, 0x0A10)), "UNIMPL 0A10EE10");  // VMOV R0, S0
    EXPECT_EQ(thumb(wide(0xF7F0, 0xA000)), "UNDEF A000F7F0");  // UDF.W
}

// Inside an IT block the instructions take the block's conditions, and 16-bit data processing
// stops setting the flags; compares still set them.
TEST(T32Decoder, ItBlocks) {
    ItBlock block;
    auto next = [&](std::uint32_t word) {
        TextSink out;
        PrintContext ctx{&out, InstructionSet::Thumb, 0x1000};
        unsigned length = 0;
        decodeThumbInBlock(block, word, length, kPrinterVisitor, &ctx);
        return std::string(out.view());
    };
    EXPECT_EQ(next(0xBF14), "ITNE #0x14");  // ITE NE
    EXPECT_TRUE(block.active());
    EXPECT_EQ(next(0x2001), "MOVNE R0, #0x1");
    EXPECT_TRUE(block.last());
    EXPECT_EQ(next(0x2000), "MOVEQ R0, #0x0");
    EXPECT_FALSE(block.active());
    EXPECT_EQ(next(0x2000), "MOVS R0, #0x0");
    EXPECT_EQ(next(0xBF08), "ITEQ #0x8");
    EXPECT_EQ(next(0x2800), "CMPEQ R0, #0x0");
    EXPECT_FALSE(block.active());
}

}  // namespace

#endif

// The normalized operation form shared by the front-ends: bitfield descriptions, arithmetic on
// it, register effects, IT block stepping, and the allocation-free text sink.
#include <gtest/gtest.h>

#include "analyzer/decode/effects.h"
#include "analyzer/decode/it_block.h"
#include "analyzer/decode/operation.h"
#include "analyzer/decode/text_sink.h"
#include "analyzer/decode/value_math.h"

namespace {

using namespace coresift::decode;

TEST(BitfieldDescription, EveryShiftAndExtendReadsBack) {
    for (unsigned bits : {32u, 64u}) {
        for (unsigned n = 1; n < bits; ++n) {
            FieldMeaning m = interpretField(lslField(n, bits), false, bits);
            EXPECT_EQ(m.kind, FieldKind::Lsl);
            EXPECT_EQ(m.amount, n);
            m = interpretField(lsrField(n, bits), false, bits);
            EXPECT_EQ(m.kind, FieldKind::Lsr);
            EXPECT_EQ(m.amount, n);
            m = interpretField(lsrField(n, bits), true, bits);
            EXPECT_EQ(m.kind, FieldKind::Asr);
            m = interpretField(rorField(n, bits), false, bits);
            EXPECT_EQ(m.kind, FieldKind::Ror);
            EXPECT_EQ(m.amount, n);
        }
        for (unsigned width : {8u, 16u, 32u}) {
            if (width >= bits) continue;
            for (unsigned shift = 0; shift <= 4; ++shift) {
                const FieldMeaning m = interpretField(extendField(width, shift, bits), true, bits);
                EXPECT_EQ(m.kind, FieldKind::Extend) << width << " " << shift;
                EXPECT_EQ(m.width, width);
                EXPECT_EQ(m.amount, shift);
            }
        }
    }
    // A bitfield that is neither: extraction and insertion.
    EXPECT_EQ(interpretField(bitField(4, 11), false, 32).kind, FieldKind::Extract);
    EXPECT_EQ(interpretField(bitField(28, 2), false, 32).kind, FieldKind::Insert);
}

TEST(BitfieldDescription, ArithmeticMatchesTheShifts) {
    const std::uint64_t v = 0x80000F01;
    EXPECT_EQ(applyField(v, lslField(4, 32), false, 32), 0x0000F010u);
    EXPECT_EQ(applyField(v, lsrField(4, 32), false, 32), 0x080000F0u);
    EXPECT_EQ(applyField(v, lsrField(4, 32), true, 32), 0xF80000F0u);
    EXPECT_EQ(applyField(v, lsrField(32, 32), true, 32), 0xFFFFFFFFu);  // ASR #32
    EXPECT_EQ(applyField(v, lsrField(32, 32), false, 32), 0u);          // LSR #32
    EXPECT_EQ(applyField(v, rorField(4, 32), false, 32), 0x180000F0u);
    EXPECT_EQ(applyField(0x1FF, extendField(8, 0, 32), true, 32), 0xFFFFFFFFu);  // SXTB
    EXPECT_EQ(applyField(0x1FF, extendField(8, 2, 64), false, 64), 0x3FCu);       // UXTB #2
    EXPECT_EQ(applyField(0xABCD1234, bitField(8, 15), false, 32), 0x12u);        // UBFX #8, #8
}

TEST(ValueArithmetic, DataProcessingClasses) {
    const std::uint32_t word = sizes(kWord, kWord);
    DpInputs in;
    in.rn = 10;
    in.rm = 3;
    auto run = [&](std::uint32_t op, unsigned rm = 2, std::uint64_t imm = 0) {
        return evaluate(word | op, 1, rm, imm, in);
    };
    EXPECT_EQ(run(withClass(DpClass::Add)), 13u);
    EXPECT_EQ(run(withClass(DpClass::Add) | op::kSubtract), 7u);
    EXPECT_EQ(run(withClass(DpClass::Add), kRegNone, 5), 15u);
    EXPECT_EQ(run(withClass(DpClass::Rsb), kRegNone, 0), TargetWord{0xFFFFFFF6});  // 32-bit operation
    EXPECT_EQ(run(withClass(DpClass::And) | op::kInverted), 10u & ~3u);
    EXPECT_EQ(run(withClass(DpClass::Eor)), 9u);
    EXPECT_EQ(run(withClass(DpClass::Madd), 2, kRegNone), 30u);
    EXPECT_EQ(run(withClass(DpClass::Div) | op::kSigned), 3u);
    EXPECT_FALSE(run(withClass(DpClass::Add) | op::kCarry).has_value());  // needs the flags
    EXPECT_FALSE(run(withClass(DpClass::Csel)).has_value());
    in.rm.reset();
    EXPECT_FALSE(run(withClass(DpClass::Add)).has_value());  // an unknown source
    in.rd = 0x12345678;
    EXPECT_EQ(evaluate(word | withClass(DpClass::Movk), 1, kRegNone, 0xABCD | (1u << 20), in), 0xABCD5678u);
    in.rm = 0;
    EXPECT_EQ(evaluate(word | withClass(DpClass::Div), 1, 2, 0, in), 0u);  // division by zero gives 0
}

TEST(RegisterEffects, ReadWriteSets) {
    if constexpr (kIs64) {
        unsigned length = 0;
        Effects e = effectsOf(InstructionSet::A64, 0xA9BF7BFD, length);  // STP X29, X30, [SP, #-16]!
        EXPECT_EQ(e.read, (1ull << 29) | (1ull << 30) | (1ull << kRegSp));
        EXPECT_EQ(e.written, 1ull << kRegSp);
        EXPECT_TRUE(e.stores);
        e = effectsOf(InstructionSet::A64, 0x94000000, length);  // BL
        EXPECT_TRUE(e.calls);
        EXPECT_EQ(e.written, (1ull << 30) | (1ull << kRegPc));
        e = effectsOf(InstructionSet::A64, 0xF100043F, length);  // CMP X1, #1
        EXPECT_TRUE(e.writesFlags);
        EXPECT_EQ(e.written, 0u);
    } else {
        unsigned length = 0;
        Effects e = effectsOf(InstructionSet::Arm, 0xE8BD8010, length);  // POP {R4, PC}
        EXPECT_EQ(e.written, (1u << 4) | (1u << kRegSp) | (1u << kRegPc));
        EXPECT_TRUE(e.branches);
        e = effectsOf(InstructionSet::Arm, 0xE0A5E291, length);  // UMLAL R14, R5, R1, R2
        EXPECT_EQ(e.written, (1u << 14) | (1u << 5));
        EXPECT_EQ(e.read, (1u << 1) | (1u << 2) | (1u << 14) | (1u << 5));
        e = effectsOf(InstructionSet::Thumb, 0xF000E8DF, length);  // TBB [PC, R0]
        EXPECT_TRUE(e.branches);
        EXPECT_EQ(length, 4u);
    }
}

TEST(ItBlockState, FourInstructionBlock) {
    ItBlock block;
    block.start(0x01);  // ITTTT EQ (firstcond 0, mask 0001)
    unsigned seen = 0;
    while (block.active()) {
        EXPECT_EQ(block.condition(), 0u);
        block.advance();
        ++seen;
    }
    EXPECT_EQ(seen, 4u);
    block.start(0x14);  // ITE NE: NE then EQ
    EXPECT_EQ(block.condition(), 1u);
    block.advance();
    EXPECT_EQ(block.condition(), 0u);
    EXPECT_TRUE(block.last());
    block.advance();
    EXPECT_FALSE(block.active());
}

TEST(TextSinkBounds, OverlongTextIsCutNotOverrun) {
    TextSink sink;
    for (int i = 0; i < 1000; ++i) sink.put("R12, ");
    EXPECT_EQ(sink.view().size(), TextSink::kCapacity);
    sink.clear();
    sink.hex(0xFFFFFFFFFFFFFFFFull);
    sink.put(' ');
    sink.decimal(-9223372036854775807LL - 1);
    EXPECT_EQ(sink.view(), "FFFFFFFFFFFFFFFF -9223372036854775808");
}

}  // namespace

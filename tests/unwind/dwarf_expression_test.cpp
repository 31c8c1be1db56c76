// The DWARF expression evaluator: operations, stack faults with their messages, bounds.
#include <gtest/gtest.h>

#include "analyzer/unwind/dwarf_expression.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::ByteVector;
using testsupport::cat;
using testsupport::sleb;
using testsupport::uleb;

constexpr std::uint8_t u(unsigned v) { return static_cast<std::uint8_t>(v); }
constexpr unsigned kSp = kSpRegister;
constexpr TargetWord kStack = 0x7000;
constexpr std::uint64_t kMask = kIs64 ? ~0ull : 0xFFFFFFFFull;

class DwarfExpression : public testsupport::UnwindTest {
protected:
    DwarfExpression() {
        memory.addWords(kStack, 64, 0x11110000, 0x10);  // word i holds 0x11110000 + 16 i
        regs = testsupport::registers({{0, 5}, {1, static_cast<TargetWord>(-3)}, {kSp, kStack}});
        context.names = names();
        context.registers = &regs;
        context.memory = &memory;
        context.initialValue = kStack;
        context.cfa = kStack + 0x40;
    }
    std::optional<std::uint64_t> value(const ByteVector& expression) {
        return evaluateExpression(context, common::ByteView(expression.data(), expression.size()), sizeof(TargetWord), false);
    }
    std::optional<std::uint64_t> location(const ByteVector& expression, unsigned width = sizeof(TargetWord)) {
        return evaluateExpression(context, common::ByteView(expression.data(), expression.size()), width, true);
    }

    coresift::decode::RegisterState regs;
    ExpressionContext context;
};

TEST_F(DwarfExpression, ConstantsRegistersAndArithmetic) {
    EXPECT_EQ(value({}), kStack);  // the initial entry
    EXPECT_EQ(value({0x30 + 7}), 7u);
    EXPECT_EQ(value({0x09, 0xFF}) .value() & kMask, kMask);                // const1s -1
    EXPECT_EQ(value(cat({{0x11}, sleb(-1000), {0x1F}})), 1000u);           // consts, neg
    EXPECT_EQ(value(cat({{0x10}, uleb(300), {0x23}, uleb(12)})), 312u);     // constu, plus_uconst
    EXPECT_EQ(value({0x70 + 0, 0x04}), 9u);                                 // breg0 + 4
    EXPECT_EQ(value(cat({{0x92, 0x01}, sleb(3)})), 0u);                     // bregx r1 (-3) + 3 wraps
    EXPECT_EQ(value({0x30, 0x31, 0x1C}), kMask);                            // 0 - 1 in the target's word
    EXPECT_EQ(value({0x9C}), kStack + 0x40);                                // call_frame_cfa
    EXPECT_EQ(value({0x35, 0x33, 0x1C}), 2u);                               // 5 - 3
    EXPECT_EQ(value({0x35, 0x33, 0x1E}), 15u);
    EXPECT_EQ(value({0x31, 0x34, 0x24}), 16u);                              // 1 << 4
    EXPECT_EQ(value({0x30 + 31, 0x32, 0x25}), 7u);                          // 31 >> 2
    EXPECT_EQ(value({0x37, 0x33, 0x1D}), 1u);                               // 7 mod 3
    EXPECT_EQ(value({0x37, 0x30, 0x1D}), 0u);                               // mod 0 gives 0
    EXPECT_EQ(value({0x37, 0x30, 0x1B}), 0u);                               // div 0 gives 0
    // Signed division, arithmetic shift and comparisons use the target's word.
    EXPECT_EQ(value({0x09, 0xF8, 0x32, 0x1B}).value() & kMask, static_cast<TargetWord>(-4));
    EXPECT_EQ(value({0x09, 0xF8, 0x31, 0x26}).value() & kMask, static_cast<TargetWord>(-4));
    EXPECT_EQ(value({0x09, 0xFF, 0x30, 0x2D}), 1u);                         // -1 < 0
    EXPECT_EQ(value({0x09, 0xFF, 0x30, 0x2B}), 0u);
    EXPECT_EQ(value({0x09, 0xFB, 0x19}), 5u);                               // abs
    EXPECT_EQ(value({0x35, 0x33, 0x1A, 0x33, 0x21, 0x36, 0x27}), 5u);       // ((5 & 3) | 3) ^ 6
}

TEST_F(DwarfExpression, StackOperations) {
    EXPECT_EQ(value({0x31, 0x32, 0x14}), 1u);        // over
    EXPECT_EQ(value({0x31, 0x32, 0x16}), 1u);        // swap
    EXPECT_EQ(value({0x31, 0x32, 0x33, 0x17}), 2u);  // rot: 1 2 3 -> 3 1 2
    EXPECT_EQ(value({0x31, 0x32, 0x15, 0x02}), kStack);  // pick 2
    EXPECT_EQ(value({0x31, 0x12, 0x22}), 2u);        // dup plus
    EXPECT_FALSE(value({0x15, 0x05}));
    EXPECT_EQ(errors(), "Error: Invalid libfoo.so of .eh_frame stack index: 5\n");
}

TEST_F(DwarfExpression, StackFaults) {
    EXPECT_FALSE(value({0x13, 0x13}));
    EXPECT_EQ(errors(), "Error: libfoo.so of .eh_frame expression stack underflow\n");
    EXPECT_TRUE(value(ByteVector(255, 0x30)));  // 255 pushes on the initial entry fill the stack
    EXPECT_FALSE(value(ByteVector(256, 0x30)));
    EXPECT_EQ(errors(), "Error: libfoo.so of .eh_frame expression stack underflow\n"
                        "Error: libfoo.so of .eh_frame expression stack overflow\n");
}

TEST_F(DwarfExpression, BranchesAndTheOperationBound) {
    // lit1; bra +1 (taken, skips lit7); lit3 -> 3 on top.
    EXPECT_EQ(value({0x31, 0x28, 0x01, 0x00, 0x37, 0x33}), 3u);
    EXPECT_EQ(value({0x30, 0x28, 0x01, 0x00, 0x37}), 7u);  // not taken
    EXPECT_EQ(value({0x2F, 0x01, 0x00, 0x37, 0x38}), 8u);  // skip
    EXPECT_FALSE(value({0x2F, 0x10, 0x00}));              // a target past the end
    // skip -3 jumps back onto itself: stopped by the operation bound, silently.
    context.maxOperations = 1000;
    EXPECT_FALSE(value({0x2F, 0xFD, 0xFF}));
    EXPECT_EQ(errors(), "");
}

TEST_F(DwarfExpression, MemoryAndLocations) {
    EXPECT_EQ(value({0x70 + kSp, 0x08, 0x06}), 0x11110000u + 0x10 * (8 / sizeof(TargetWord)));
    EXPECT_EQ(value({0x70 + kSp, 0x00, 0x94, 0x02}), 0x0000u);   // deref_size 2: low half
    EXPECT_EQ(value({0x70 + kSp, 0x02, 0x94, 0x02}), 0x1111u);
    EXPECT_FALSE(value({0x70 + kSp, 0x00, 0x94, 0x09}));
    EXPECT_EQ(errors(), "Error: Invalid libfoo.so of .eh_frame size index: 9\n");
    EXPECT_FALSE(value({0x0C, 0, 0, 0, 0x10, 0x06}));             // unreadable: silent
    // A location result is read with the width asked for; a value result is not read.
    EXPECT_EQ(location({0x70 + kSp, 0x00}, 4), 0x11110000u);
    EXPECT_EQ(location({0x70 + kSp, 0x00, 0x9F}), kStack);
    EXPECT_EQ(location({0x50}), 5u);                               // reg0 names a value
    EXPECT_FALSE(location({0x70 + kSp, 0x00}, 3));
    EXPECT_EQ(errors().substr(errors().rfind("Error")), "Error: Invalid libfoo.so of .eh_frame size index: 3\n");
}

TEST_F(DwarfExpression, UnknownRegistersAndSilentFailures) {
    EXPECT_FALSE(value({0x70 + 2, 0x00}));  // r2/x2 is not known
    EXPECT_FALSE(value({0x90, 0x80, 0x01}));  // regx 128: outside the register set
    EXPECT_FALSE(value({0x91, 0x08}));        // fbreg without a frame base
    EXPECT_FALSE(value({0xA3, 0x01, 0x50}));  // entry_value
    EXPECT_FALSE(value({0xF2}));              // GNU implicit pointer
    EXPECT_FALSE(value({0xA1, 0x00}));        // addrx without .debug_addr
    EXPECT_EQ(errors(), "");
    context.frameBase = 0x100;
    EXPECT_EQ(value(cat({{0x91}, sleb(-8)})), 0xF8u);
}

TEST_F(DwarfExpression, IndexedAddressesAddTheLoadBias) {
    testsupport::Emitter table;
    table.word(0).word(0x1234).word(0x5678);
    context.debugAddr = common::ByteView(table.data().data(), table.data().size());
    context.addrBase = sizeof(TargetWord);
    context.loadBias = 0x10000;
    EXPECT_EQ(value({0xA1, 0x00}), 0x11234u);
    EXPECT_EQ(value({0xFB, 0x01}), 0x15678u);
    context.addrBase = 0;
    EXPECT_EQ(value({0xA2, 0x00}), 0u);  // an entry of 0 stays 0
    EXPECT_FALSE(value({0xA1, 0x05}));
}

TEST_F(DwarfExpression, TypedConstantsAndWidthDependentOperations) {
    EXPECT_EQ(value({0xA4, 0x01, 0x02, 0x34, 0x12}), 0x1234u);
    EXPECT_FALSE(value({0xA4, 0x01, 0x09}));
    EXPECT_EQ(errors(), "Error: Invalid libfoo.so of .eh_frame size index: 9\n");
    const ByteVector const8u = {0x0E, 1, 2, 3, 4, 5, 6, 7, 8};
    if constexpr (kIs64) {
        EXPECT_EQ(value(const8u), 0x0807060504030201ull);
        EXPECT_EQ(value({0x03, 1, 0, 0, 0, 0, 0, 0, 0x80}), 0x8000000000000001ull);
    } else {
        EXPECT_FALSE(value(const8u));
        EXPECT_EQ(errors().substr(errors().rfind("Error")), "Error: Unrecognized libfoo.so of .eh_frame op code: 0xe\n");
        EXPECT_EQ(value({0x03, 1, 0, 0, 0x80}), 0x80000001u);
    }
    EXPECT_FALSE(value({0x02}));
    EXPECT_FALSE(value({0xFD}));
    EXPECT_EQ(errors().substr(errors().rfind("Error")), "Error: Unrecognized libfoo.so of .eh_frame op code: 0xfd\n");
}

TEST_F(DwarfExpression, Pieces) {
    // r0 (5) in the low 4 bytes, the word at the stack in the next 2.
    EXPECT_EQ(value({0x50, 0x93, 0x04, 0x70 + kSp, 0x00, 0x93, 0x02}), 0x0000000000000005ull);
    EXPECT_EQ(value({0x35, 0x9F, 0x93, 0x01, 0x36, 0x9F, 0x93, 0x01}), 0x0605u);
    EXPECT_FALSE(value({0x31, 0x9F, 0x93, 0x08, 0x31, 0x9F, 0x93, 0x01}));
    EXPECT_EQ(errors(), "Error: Invalid libfoo.so of .eh_frame size index: 72\n");
}

}  // namespace

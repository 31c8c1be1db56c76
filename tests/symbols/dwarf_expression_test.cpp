// Location expressions: the operations a compiler writes for variables and parameters, and the
// ones a damaged file could hold (endless loops, overflowing division, huge shifts, stack abuse),
// which must fail or give a defined value.
#include <gtest/gtest.h>

#include <map>

#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_expression.h"
#include "tests/symbols/dwarf_builder.h"
#include "tests/symbols/symbol_test_support.h"

namespace {

namespace dw = coresift::dw;
using coresift::ExpressionContext;
using coresift::Location;
using testsupport::ByteWriter;
using testsupport::Bytes;
using testsupport::FakeMemory;

class ExpressionTest : public testing::Test {
protected:
    ExpressionTest() {
        context.addressSize = 4;
        context.reg = [this](unsigned n) -> std::optional<std::uint64_t> {
            auto found = registers.find(n);
            if (found == registers.end()) return std::nullopt;
            return found->second;
        };
        context.entryValue = [](unsigned n) -> std::optional<std::uint64_t> {
            if (n == 0) return 0xE0;
            return std::nullopt;
        };
        context.memory = &memory;
        context.frameBase = 0x8000;
        context.cfa = 0x9000;
        context.loadBias = 0x100000;
    }
    std::optional<Location> eval(const Bytes& code) { return coresift::evaluateExpression(common::ByteView(code.data(), code.size()), context); }
    // The value an expression leaves (as a stack value or the memory address it computes).
    std::optional<std::uint64_t> value(const Bytes& code) {
        auto location = eval(code);
        if (!location || (location->kind != Location::Kind::Memory && location->kind != Location::Kind::Value)) return std::nullopt;
        return location->value;
    }

    std::map<unsigned, std::uint64_t> registers = {{0, 5}, {11, 0x7000}, {13, 0x6000}};
    FakeMemory memory;
    ExpressionContext context;
};

TEST_F(ExpressionTest, LocationsOfRegistersMemoryAndValues) {
    memory.put32(0x6010, 0x12345678);
    auto reg = eval({dw::kOpReg0 + 11});
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->kind, Location::Kind::Register);
    EXPECT_EQ(coresift::locationValue(*reg, 4, context), 0x7000u);
    EXPECT_EQ(value({dw::kOpBreg0 + 13, 0x10}), 0x6010u);
    EXPECT_EQ(coresift::locationValue(*eval({dw::kOpBreg0 + 13, 0x10}), 4, context), 0x12345678u);
    EXPECT_EQ(coresift::locationValue(*eval({dw::kOpBreg0 + 13, 0x10}), 2, context), 0x5678u);
    EXPECT_EQ(value({dw::kOpFbreg, 0x70}), 0x7FF0u);  // -16
    EXPECT_EQ(value({dw::kOpCallFrameCfa}), 0x9000u);
    EXPECT_EQ(value({dw::kOpAddr, 0x10, 0x20, 0, 0}), 0x102010u);  // file address plus load bias
    auto stackValue = eval({dw::kOpLit0 + 7, dw::kOpStackValue});
    EXPECT_EQ(stackValue->kind, Location::Kind::Value);
    EXPECT_EQ(stackValue->value, 7u);
    const Bytes implicitCode = {dw::kOpImplicitValue, 2, 0x34, 0x12};  // the location points into it
    auto implicit = eval(implicitCode);
    EXPECT_EQ(coresift::locationValue(*implicit, 2, context), 0x1234u);
    EXPECT_EQ(value({dw::kOpEntryValue, 1, dw::kOpReg0, dw::kOpStackValue}), 0xE0u);
    EXPECT_FALSE(eval({dw::kOpEntryValue, 1, dw::kOpReg0 + 1, dw::kOpStackValue}));  // not known on entry
    EXPECT_FALSE(eval({dw::kOpBreg0 + 2, 0}));  // an unknown register
}

TEST_F(ExpressionTest, PiecesPutAWideValueTogether) {
    registers[1] = 0xAAAA5555;
    auto pair = eval({dw::kOpReg0, dw::kOpPiece, 4, dw::kOpReg0 + 1, dw::kOpPiece, 4});
    ASSERT_TRUE(pair);
    EXPECT_EQ(coresift::locationValue(*pair, 8, context), 0xAAAA555500000005u);
    auto missing = eval({dw::kOpReg0, dw::kOpPiece, 4, dw::kOpPiece, 4});  // an optimized-out half
    ASSERT_TRUE(missing);
    EXPECT_FALSE(coresift::locationValue(*missing, 8, context));
    EXPECT_FALSE(eval({dw::kOpReg0, dw::kOpLit0}));  // only a piece may follow a register
}

TEST_F(ExpressionTest, ArithmeticUsesTheAddressSizedTypeAndIsDefinedForEveryInput) {
    EXPECT_EQ(value({dw::kOpLit0 + 3, dw::kOpLit0 + 4, dw::kOpMinus}), 0xFFFFFFFFu);
    EXPECT_EQ(value({dw::kOpConst4u, 0, 0, 0, 0x80, dw::kOpConst1s, 0xFF, dw::kOpDiv}), 0x80000000u);  // INT_MIN / -1
    EXPECT_EQ(value({dw::kOpConst1s, 0xF9, dw::kOpLit0 + 2, dw::kOpDiv}), 0xFFFFFFFDu);                 // -7 / 2 = -3
    EXPECT_FALSE(value({dw::kOpLit0 + 1, dw::kOpLit0, dw::kOpDiv}));
    EXPECT_FALSE(value({dw::kOpLit0 + 1, dw::kOpLit0, dw::kOpMod}));
    EXPECT_EQ(value({dw::kOpLit0 + 1, dw::kOpConst1u, 64, dw::kOpShl}), 0u);
    EXPECT_EQ(value({dw::kOpLit0 + 1, dw::kOpConst1u, 200, dw::kOpShr}), 0u);
    EXPECT_EQ(value({dw::kOpConst1s, 0x80, dw::kOpConst1u, 70, dw::kOpShra}), 0xFFFFFFFFu);
    EXPECT_EQ(value({dw::kOpLit0 + 1, dw::kOpLit0 + 31, dw::kOpShl}), 0x80000000u);
    EXPECT_EQ(value({dw::kOpConst1s, 0xFF, dw::kOpAbs}), 1u);
    EXPECT_EQ(value({dw::kOpLit0 + 2, dw::kOpLit0 + 3, dw::kOpLt}), 1u);
    EXPECT_EQ(value({dw::kOpConst1s, 0xFF, dw::kOpLit0 + 1, dw::kOpGt}), 0u);  // signed comparison
    EXPECT_EQ(value({dw::kOpLit0 + 1, dw::kOpLit0 + 2, dw::kOpLit0 + 3, dw::kOpRot, dw::kOpDrop, dw::kOpDrop}), 3u);
    EXPECT_EQ(value({dw::kOpLit0 + 9, dw::kOpLit0 + 8, dw::kOpPick, 1}), 9u);
    EXPECT_FALSE(value({dw::kOpLit0, dw::kOpPick, 5}));
    context.addressSize = 8;
    EXPECT_EQ(value({dw::kOpConst8u, 0, 0, 0, 0, 0, 0, 0, 0x80, dw::kOpConst1s, 0xFF, dw::kOpDiv}), 0x8000000000000000u);
    EXPECT_EQ(value({dw::kOpLit0 + 3, dw::kOpLit0 + 4, dw::kOpMinus}), UINT64_MAX);
}

TEST_F(ExpressionTest, BranchesAreBoundedAndMustLandInsideTheExpression) {
    // lit1; bra -3 (back to itself): loops until the step limit.
    EXPECT_FALSE(eval({dw::kOpLit0 + 1, dw::kOpBra, 0xFC, 0xFF}));
    EXPECT_FALSE(eval({dw::kOpSkip, 0xFD, 0xFF}));              // skip -3: to itself, forever
    EXPECT_FALSE(eval({dw::kOpSkip, 0x10, 0x00, dw::kOpLit0})); // beyond the end
    EXPECT_FALSE(eval({dw::kOpSkip, 0x00, 0x80}));              // before the start
    EXPECT_EQ(value({dw::kOpLit0, dw::kOpBra, 1, 0, dw::kOpLit0 + 5, dw::kOpLit0 + 6}), 6u);  // not taken
    EXPECT_EQ(value({dw::kOpSkip, 1, 0, dw::kOpLit0 + 5, dw::kOpLit0 + 6}), 6u);             // skips lit5
    // Pushing without end overflows the bounded stack.
    Bytes flood = {dw::kOpLit0};
    for (int i = 0; i < 300; ++i) flood.push_back(dw::kOpDup);
    EXPECT_FALSE(eval(flood));
    EXPECT_FALSE(eval({dw::kOpDrop}));
    EXPECT_FALSE(eval({dw::kOpConstu, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}));
    EXPECT_FALSE(eval({dw::kOpCall4, 0, 0, 0, 0}));
    EXPECT_FALSE(eval({dw::kOpDerefSize, 9}));
    EXPECT_FALSE(eval({dw::kOpLit0, dw::kOpDeref}));  // unreadable memory
}

}  // namespace

// The backtrace driver's code heuristics through their seam: a forward step on hand-assembled
// epilogues, and the arguments of a frame from its registers, its caller's call site and the
// stack, counted by the function's mangled name.
#include <gtest/gtest.h>

#include "analyzer/unwind/frame_heuristics.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using coresift::decode::kRegLr;
using coresift::decode::kRegPc;
using coresift::decode::kRegSp;
using testsupport::Emitter;

constexpr TargetWord kCode = 0x10000, kStack = 0x7F000000;
constexpr unsigned kArgumentRegisters = kIs64 ? 8 : 4;

class FrameHeuristicsTest : public testsupport::UnwindTest {
protected:
    FrameHeuristicsTest() : heuristics(makeFrameHeuristics()) {}

    void code(TargetWord at, std::initializer_list<std::uint32_t> words) {
        Emitter e;
        for (std::uint32_t w : words) e.u32(w);
        memory.add(at, e.data());
    }
    void thumbCode(TargetWord at, std::initializer_list<std::uint16_t> halfwords) {
        Emitter e;
        for (std::uint16_t h : halfwords) e.u16(h);
        memory.add(at, e.data());
    }
    // A stack of words from kStack, word i = `first + i`.
    void stack(TargetWord first) { memory.addWords(kStack, 256, first, 1); }

    std::vector<FrameArgument> arguments(const ArgumentRequest& request) { return heuristics->arguments(environment(), request); }

    std::unique_ptr<FrameHeuristics> heuristics;
};

std::vector<std::uint64_t> valuesOf(const std::vector<FrameArgument>& arguments) {
    std::vector<std::uint64_t> values;
    for (const FrameArgument& a : arguments) values.push_back(a.kind == ArgumentKind::Skipped ? ~std::uint64_t{0} : a.value);
    return values;
}

TEST_F(FrameHeuristicsTest, ForwardStepReturnsToTheCallerOrLeavesTheFrame) {
    if constexpr (kIs64) {
        code(kCode, {0xA8C17BFD, 0xD65F03C0});  // LDP X29, X30, [SP], #16 ; RET
    } else {
        code(kCode, {0xE8BD8010});  // POP {R4, PC}
    }
    stack(0x5000);
    RegisterState frame = testsupport::registers({{kRegPc, kCode}, {kRegSp, kStack + 16}});
    for (unsigned r = 0; r < kRegSp; ++r) frame.set(r, 0x900 + r);
    RegisterState registers = frame;
    const StepResult step = heuristics->forwardStep(environment(), registers);
    ASSERT_TRUE(step.stepped());
    if constexpr (kIs64) {
        EXPECT_EQ(registers.r[kRegSp], kStack + 32);
        EXPECT_EQ(registers.r[29], 0x5002u);
        EXPECT_EQ(registers.r[kRegPc], 0x5003u);
    } else {
        EXPECT_EQ(registers.r[kRegSp], kStack + 24);
        EXPECT_EQ(registers.r[4], 0x5004u);
        EXPECT_EQ(registers.r[kRegPc], 0x5005u);
    }
    EXPECT_FALSE(registers.known(0));
    EXPECT_FALSE(registers.known(kRegLr));

    // A pc whose code is not in the dump: no step, and the frame is left as it was.
    registers = frame;
    registers.set(kRegPc, 0x40000);
    EXPECT_EQ(heuristics->forwardStep(environment(), registers).status, StepStatus::Failed);
    EXPECT_EQ(registers.r[kRegPc], 0x40000u);
    EXPECT_EQ(registers.valid, frame.valid);
}

// The frame's own argument registers when it knows them, as many as the mangled name has
// parameter words; a name that is not mangled takes every argument register.
TEST_F(FrameHeuristicsTest, ArgumentsFromTheFrameRegistersCountedByTheName) {
    ArgumentRequest request;
    for (unsigned r = 0; r < kArgumentRegisters; ++r) request.registers.set(r, 0x40 + r);
    request.registers.set(kRegPc, kCode);
    request.symbolName = "_ZN3Foo3barEi";  // Foo::bar(int): this and one word
    EXPECT_EQ(valuesOf(arguments(request)), (std::vector<std::uint64_t>{0x40, 0x41}));

    request.symbolName = "plain_c_function";
    EXPECT_EQ(arguments(request).size(), kArgumentRegisters);
    request.symbolName = "";
    EXPECT_EQ(arguments(request).size(), kArgumentRegisters);
    for (const FrameArgument& a : arguments(request)) EXPECT_EQ(a.kind, ArgumentKind::Symbolic);
}

// Arguments the frame no longer knows come from the instructions before its caller's call;
// what the code does not show stays unknown (counted, not printed), and words past the argument
// registers are read from the caller's stack at the call.
TEST_F(FrameHeuristicsTest, ArgumentsFromTheCallSiteAndTheStack) {
    TargetWord callSite = 0;
    if constexpr (kIs64) {
        code(kCode, {0xD28000A0, 0xD28000E1, 0x94000100});  // MOV X0, #5 ; MOV X1, #7 ; BL
        callSite = kCode + 8;
    } else {
        code(kCode, {0xE3A00005, 0xE3A01007, 0xEB000100});  // MOV R0, #5 ; MOV R1, #7 ; BL
        callSite = kCode + 8;
    }
    stack(0x7000);
    RegisterState caller = testsupport::registers({{kRegPc, callSite}, {kRegSp, kStack + 8 * sizeof(TargetWord)}});
    caller.set(0, 0xBAD);  // a value the caller's frame holds later: not the call's
    ArgumentRequest request;
    request.registers.set(kRegPc, 0x20000);
    request.caller = &caller;
    request.callerFunctionStart = kCode;
    request.symbolName = kIs64 ? "_Z1fiiiiiiiiii" : "_Z1fiiiiii";  // f with 10 (6) ints: 11 (7) words
    const std::vector<FrameArgument> found = arguments(request);
    ASSERT_EQ(found.size(), kArgumentRegisters + 3);
    EXPECT_EQ(found[0].value, 5u);
    EXPECT_EQ(found[1].value, 7u);
    for (unsigned a = 2; a < kArgumentRegisters; ++a) EXPECT_EQ(found[a].kind, ArgumentKind::Skipped) << a;
    for (unsigned a = 0; a < 3; ++a) {
        EXPECT_EQ(found[kArgumentRegisters + a].value, 0x7008u + a);
        EXPECT_EQ(found[kArgumentRegisters + a].index, kArgumentRegisters + a);
    }

    // The stack beyond the dump: those words are left out.
    caller.set(kRegSp, kStack + 255 * sizeof(TargetWord));
    EXPECT_EQ(arguments(request).size(), kArgumentRegisters + 1);
    // Without a caller, nothing can be recovered.
    request.caller = nullptr;
    EXPECT_TRUE(arguments(request).empty());
}

#if CORESIFT_TARGET_BITS == 32
TEST_F(FrameHeuristicsTest, ThumbCallSiteArguments) {
    thumbCode(kCode, {0x2005, 0x2107, 0xF000, 0xF880});  // MOVS R0, #5 ; MOVS R1, #7 ; BL
    RegisterState caller = testsupport::registers({{kRegPc, (kCode + 4) | 1}, {kRegSp, kStack}});
    ArgumentRequest request;
    request.registers.set(kRegPc, 0x20000);
    request.caller = &caller;
    request.symbolName = "_Z1fii";
    EXPECT_EQ(valuesOf(arguments(request)), (std::vector<std::uint64_t>{5, 7}));
}
#endif

}  // namespace

// The backtrace walk on hand-made processes: signal-return trampolines and saved contexts, call-site
// adjustment, the call test of the stack scan, recovery through LR and the stack, the frame limit and
// the stop on a step that goes nowhere; and the frame printer's columns.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "analyzer/driver/messages.h"
#include "analyzer/unwind/backtrace_walk.h"
#include "analyzer/unwind/frame_printer.h"

namespace {

using namespace coresift::unwind;
using coresift::decode::kRegLr;
using coresift::decode::kRegPc;
using coresift::decode::kRegSp;

constexpr TargetWord kCode = 0x10000, kCodeSize = 0x1000;
constexpr TargetWord kStack = 0x80000, kStackSize = 0x2000;
constexpr std::uint32_t kCall = kIs64 ? 0x94000010u : 0xEB000010u;  // BL
constexpr std::uint32_t kNop = kIs64 ? 0xD503201Fu : 0xE320F000u;

template <class T>
void put(std::vector<std::uint8_t>& bytes, std::size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

// One module's code (no unwind tables) and a stack; the heuristics are scripted per test.
class FakeProcess final : public BacktraceProcess, public FrameHeuristics {
public:
    FakeProcess() : code(kCodeSize), stack(kStackSize) {
        for (TargetWord at = 0; at < kCodeSize; at += 4) put(code, at, kNop);
        module.name = "libfake.so";
    }
    void finish() {
        memory = SpanMemory();
        memory.add(kCode, {code.data(), code.size()});
        memory.add(kStack, {stack.data(), stack.size()});
        env.memory = &memory;
    }

    const StepEnvironment& environment() const override { return env; }
    std::optional<CodeRegion> regionAt(TargetWord address) override {
        if (address >= kCode && address - kCode < kCodeSize) return CodeRegion{kCode, kCode + kCodeSize, true, false, "libfake.so", &module};
        if (address >= kStack && address - kStack < kStackSize) return CodeRegion{kStack, kStack + kStackSize, false, false, "[stack]", nullptr};
        return std::nullopt;
    }
    void codeUnreadable(BacktraceModule&) override {}
    FrameHeuristics& heuristics() override { return *this; }

    StepResult forwardStep(const StepEnvironment&, RegisterState& registers) override {
        ++steps;
        return step ? step(registers) : StepResult{StepStatus::Failed};
    }
    std::vector<FrameArgument> arguments(const StepEnvironment&, const ArgumentRequest&) override { return {}; }

    std::vector<std::uint8_t> code, stack;
    SpanMemory memory;
    StepEnvironment env;
    BacktraceModule module;
    std::function<StepResult(RegisterState&)> step;
    int steps = 0;
};

RegisterState at(TargetWord pc, TargetWord sp) {
    RegisterState registers;
    registers.set(kRegPc, pc);
    registers.set(kRegSp, sp);
    return registers;
}

TEST(BacktraceWalk, EndlessRecursionStopsAtTheFrameLimit) {
    FakeProcess process;
    process.finish();
    process.step = [](RegisterState& registers) {
        registers.r[kRegSp] += 16;
        registers.r[kRegPc] = kCode + 0x104;
        return StepResult{StepStatus::Stepped};
    };
    const auto frames = walkNativeStack(process, at(kCode + 0x100, kStack));
    EXPECT_EQ(frames.size(), 200u);
    EXPECT_EQ(frames[1].pc(), kCode + 0x100) << "the return address moves back to its call";
}

TEST(BacktraceWalk, StepThatGoesNowhereRecoversInsteadOfRepeating) {
    FakeProcess process;
    process.finish();
    process.step = [](RegisterState&) { return StepResult{StepStatus::Stepped}; };  // pc and SP unchanged
    RegisterState start = at(kCode + 0x100, kStack);
    start.set(kRegLr, kCode + 0x204);
    const auto frames = walkNativeStack(process, start);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[1].pc(), kCode + 0x200);
    EXPECT_LT(frames.size(), 10u);
}

TEST(BacktraceWalk, NullPcIsRecordedAndTheCallerFoundThroughLr) {
    FakeProcess process;
    process.finish();
    RegisterState start = at(0, kStack);
    start.set(kRegLr, kCode + 0x304);
    const auto frames = walkNativeStack(process, start);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].pc(), 0u);
    EXPECT_EQ(frames[1].pc(), kCode + 0x300);
    EXPECT_FALSE(frames[1].registers.known(0)) << "argument registers do not survive a call";
}

TEST(BacktraceWalk, StackScanResumesAfterAMarkerAtACallsReturnAddress) {
    FakeProcess process;
    put(process.code, 0x3FC, kCall);  // the call before return address kCode + 0x400
    // A slot whose second word is code not after a call, then one after a call.
    const std::size_t word = sizeof(TargetWord);
    put<TargetWord>(process.stack, 0x10 + word, kCode + 0x104);
    put<TargetWord>(process.stack, 0x20 + word, kCode + 0x400);
    process.finish();
    const auto frames = walkNativeStack(process, at(kCode + 0x100, kStack + 8));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].flags, raw_flag::kMarker);
    EXPECT_EQ(frames[1].sp(), kStack + 0x20 + 2 * word);
    EXPECT_EQ(frames[2].pc(), kCode + 0x3FC);
}

TEST(BacktraceWalk, SignalFrameRestoresTheInterruptedContextUnadjusted) {
    FakeProcess process;
    const TargetWord trampoline = kCode + 0x800;
    if constexpr (kIs64) {
        put<std::uint64_t>(process.code, 0x800, 0xD4000001D2801168ull);
    } else {
        put<std::uint32_t>(process.code, 0x800, 0xE3A070ADu);
        put<std::uint32_t>(process.code, 0x804, 0xEF000000u);
    }
    // An rt frame: siginfo, then the user context with the registers at +184 (+32).
    const TargetWord context = 128, registers = kIs64 ? 184 : 32;
    for (unsigned reg = 0; reg < kRuleCount; ++reg) put<TargetWord>(process.stack, context + registers + reg * sizeof(TargetWord), 0x1000 + reg);
    put<TargetWord>(process.stack, context + registers + kRegPc * sizeof(TargetWord), kCode + 0x500);
    put<TargetWord>(process.stack, context + registers + kRegSp * sizeof(TargetWord), kStack + 0x1000);
    process.finish();
    RegisterState start = at(trampoline, kStack);
    const auto frames = walkNativeStack(process, start);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0].flags, raw_flag::kSignalReturn);
    EXPECT_EQ(frames[1].pc(), kCode + 0x500) << "the interrupted pc is not a return address";
    EXPECT_EQ(frames[1].registers.r[1], 0x1001u);
    EXPECT_EQ(frames[1].registers.valid, RegisterState::kAll);
}

TEST(BacktraceWalk, SignalContextReadsThePastTheFixedSizeItUses) {
    // The context lies 128 bytes up: the registers it takes end well past the frame's first bytes.
    std::vector<std::uint8_t> stack(128 + (kIs64 ? 184 + 33 * 8 : 100));
    put<std::uint32_t>(stack, 0, 0);
    if constexpr (!kIs64) put<std::uint32_t>(stack, 128 + 96, 0x30);  // Thumb
    put<TargetWord>(stack, 128 + (kIs64 ? 184 : 32) + kRegPc * sizeof(TargetWord), 0x4000);
    SpanMemory memory(kStack, {stack.data(), stack.size()});
    RegisterState registers;
    ASSERT_TRUE(readSignalContext(memory, kStack, registers));
    EXPECT_EQ(registers.r[kRegPc], kIs64 ? 0x4000u : 0x4001u);
    SpanMemory cut(kStack, {stack.data(), stack.size() - 4});
    EXPECT_FALSE(readSignalContext(cut, kStack, registers));
    // With the context marker at SP the context starts there.
    put<std::uint32_t>(stack, 0, 0x5AC3C35Au);
    put<TargetWord>(stack, (kIs64 ? 184 : 32) + kRegPc * sizeof(TargetWord), 0x6000);
    ASSERT_TRUE(readSignalContext(memory, kStack, registers));
    EXPECT_EQ(registers.r[kRegPc] & ~TargetWord{1}, 0x6000u);
}

TEST(BacktraceWalk, TrampolinesCallSitesAndCallTests) {
    auto code = [](std::uint32_t a, std::uint32_t b) {
        std::uint8_t bytes[8];
        std::memcpy(bytes, &a, 4);
        std::memcpy(bytes + 4, &b, 4);
        return std::to_array(bytes);
    };
    std::vector<std::uint8_t> text(64, 0);
    SpanMemory memory(kCode, {text.data(), text.size()});
    if constexpr (kIs64) {
        std::uint8_t bytes[8];
        std::uint64_t word = 0xD4000001D2801168ull;
        std::memcpy(bytes, &word, 8);
        EXPECT_TRUE(isSignalReturn(bytes, kCode));
        EXPECT_EQ(callSiteOf(memory, kCode + 0x10), kCode + 0xC);
        put<std::uint32_t>(text, 0x0C, 0xD63F0200u);  // blr x16
        put<std::uint32_t>(text, 0x1C, 0xD73F0A11u);  // blraa x16, x17
        put<std::uint32_t>(text, 0x2C, 0xD61F0200u);  // br x16: not a call
        EXPECT_TRUE(followsCall(memory, kCode + 0x10));
        EXPECT_TRUE(followsCall(memory, kCode + 0x20));
        EXPECT_FALSE(followsCall(memory, kCode + 0x30));
    } else {
        auto a = code(0xDF0027ADu, 0), b = code(0x07ADF04Fu, 0xBF00DF00u), c = code(0xE3A07077u, 0xEF000000u);
        std::uint8_t thumb[8], thumb2[8], arm[8];
        std::memcpy(thumb, a.data(), 8);
        std::memcpy(thumb2, b.data(), 8);
        std::memcpy(arm, c.data(), 8);
        EXPECT_TRUE(isSignalReturn(thumb, kCode + 1));
        EXPECT_TRUE(isSignalReturn(thumb2, kCode + 1));
        EXPECT_TRUE(isSignalReturn(arm, kCode));
        EXPECT_FALSE(isSignalReturn(arm, kCode + 1));
        put<std::uint16_t>(text, 0x08, 0xF000);  // bl (32-bit) ending at 0x0C
        put<std::uint16_t>(text, 0x0A, 0xF800);
        put<std::uint16_t>(text, 0x12, 0x4798);  // blx r3 ending at 0x14
        EXPECT_EQ(callSiteOf(memory, kCode + 0x0D), kCode + 0x09);
        EXPECT_EQ(callSiteOf(memory, kCode + 0x15), kCode + 0x13);
        EXPECT_EQ(callSiteOf(memory, kCode + 0x20), kCode + 0x1C);
        EXPECT_TRUE(followsCall(memory, kCode + 0x0D));
        EXPECT_TRUE(followsCall(memory, kCode + 0x15));
        put<std::uint32_t>(text, 0x18, 0xE12FFF33u);  // blx r3 (ARM)
        put<std::uint32_t>(text, 0x20, 0xE12FFF13u);  // bx r3: not a call
        EXPECT_TRUE(followsCall(memory, kCode + 0x1C));
        EXPECT_FALSE(followsCall(memory, kCode + 0x24));
    }
}

TEST(FramePrinter, ColumnsAlignAndArgumentsShowByKind) {
    coresift::MessageCatalog catalog;
    catalog.selectEnglish();
    FrameList frames(4);
    frames[0].module = "libc.so";
    frames[0].function = "abort";
    frames[0].address = 0x1000;
    frames[0].offset = 12;
    frames[0].file = "abort.cpp";
    frames[0].line = 7;
    frames[0].arguments = {{"", 0, ArgumentKind::Signed, 0xFFFFFFFFu, ""},
                           {"", 1, ArgumentKind::Skipped, 0, ""},
                           {"flag", 2, ArgumentKind::Boolean, 1, ""},
                           {"name", 3, ArgumentKind::Text, 0, "\"x\""}};
    frames[1].module = "libsomething.so";
    frames[1].function = "sigreturn";
    frames[1].flags = frame_flag::kSignal;
    frames[1].address = 0x2000;
    frames[2].module = "......";
    frames[2].flags = frame_flag::kMarker;
    frames[3].module = "app";
    frames[3].address = 0x3000;
    frames[3].file = "main.cpp";
    frames[3].line = 3;
    const std::string address = kIs64 ? "0x0000000000003000" : "0x00003000";
    const std::string text = formatFrames(frames, "   Native callstack:\n", catalog);
    const std::string expected = std::string("   Native callstack:\n") +
                                 "\tlibc.so           abort(Para1=-1, flag=true, name=\"x\") + 12 <abort.cpp:7>\n"
                                 "\tlibsomething.so > sigreturn()\n"
                                 "\t......            ......\n"
                                 "\tapp               " + address + "()" +
                                 std::string(std::string("abort(Para1=-1, flag=true, name=\"x\") + 12").size() - address.size() - 2, ' ') +
                                 " <main.cpp:3>\n"
                                 "\t== End of frame ==\n";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(formatFrames({}, "H\n", catalog), "H\n\t== End of frame ==\n");
}

}  // namespace

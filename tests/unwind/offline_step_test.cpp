// One unwind step after another replayed on Android's offline snapshots: from the registers of
// frame 0, each step through the library at the pc must give the caller's pc and sp that
// Android's unwinder asserts (EXPECTED_PC_SP.tsv), for every frame of every case that needs
// neither JIT code nor libraries inside APKs. Between steps the replay does what the backtrace
// driver does (call-site adjustment, signal-return trampolines, LR after a bad pc) and no more.
#include <gtest/gtest.h>

#include <cstdio>

#include "analyzer/unwind/pointer_auth.h"
#include "tests/unwind/offline_case.h"

namespace {

using namespace coresift::unwind;

constexpr unsigned kPc = kPcRegister, kSp = kSpRegister, kLr = kIs64 ? 30 : 14;

// The registers a signal interrupted, from the kernel's signal frame at SP (the user context
// follows the siginfo unless the frame starts with the context's magic), as the driver reads them.
bool readSignalFrame(testsupport::OfflineCase& c, RegisterState& regs) {
    const TargetWord sp = regs.r[kSp];
    std::uint32_t magic = 0;
    if (!c.memory().read32(sp, magic)) return false;
    const TargetWord context = magic == 0x5AC3C35A ? sp : sp + 128;
    RegisterState interrupted;
    for (unsigned reg = 0; reg < kRuleCount; ++reg) {
        TargetWord value = 0;
        if (!c.memory().readWord(context + (kIs64 ? 184 : 32) + reg * sizeof(TargetWord), value)) return false;
        interrupted.set(reg, value);
    }
    regs = interrupted;
    return true;
}

// The call-site adjustment of every frame but the first: back to the calling instruction.
TargetWord callSite(testsupport::OfflineCase& c, TargetWord returnAddress) {
    if constexpr (kIs64) {
        return returnAddress - 4;
    } else {
        if (!(returnAddress & 1)) return returnAddress - 4;
        std::uint32_t before = 0;
        const bool wide = c.memory().read32((returnAddress & ~TargetWord{1}) - 4, before) &&
                          (before & 0xC000F000u) == 0xC000F000u;
        return returnAddress - (wide ? 4 : 2);
    }
}

// The signal-return trampolines the backtrace driver recognizes: such a frame keeps its pc.
bool isTrampoline(testsupport::OfflineCase& c, TargetWord pc) {
    if constexpr (kIs64) {
        std::uint64_t code = 0;
        return c.memory().read(stripPointerAuth(pc, 39), &code, 8) && code == 0xD4000001D2801168ull;
    } else {
        std::uint32_t first = 0, second = 0;
        if (!c.memory().read32(pc & ~TargetWord{1}, first)) return false;
        if (pc & 1) return first == 0xDF0027ADu || first == 0xDF002777u;
        return (first == 0xE3A070ADu || first == 0xE3A07077u) && c.memory().read32(pc + 4, second) && (second >> 24) == 0xEF;
    }
}

struct Replay {
    std::size_t agree = 0;  // frames whose pc and sp are Android's, frame 0 included
    std::string stop;       // why the replay ended before the expected frames did
};

// One walk over a case, doing between steps what the backtrace driver does: the call-site
// adjustment, signal-return trampolines (kept as they are; on AArch64 the signal frame is read),
// and LR for a pc in no library (a call through a bad pointer).
class Walker {
public:
    Walker(coresift::Console& console, testsupport::OfflineCase& c)
        : c_(c), env_{&console, &c.memory(), 39}, regs_(c.registers()) {}

    // Moves to the caller; an empty string on success, else why not.
    std::string next() {
        const bool fromTrampoline = trampoline_;
        afterSignal_ = false;
        trampoline_ = false;
        if (fromTrampoline && kIs64) {
            // AArch64's sigreturn CFI describes the frame record, not the interrupted registers.
            if (!readSignalFrame(c_, regs_)) return "signal frame unreadable";
            afterSignal_ = true;
            return {};
        }
        ModuleUnwinder* module = c_.moduleAt(lookup(regs_.r[kPc]));
        if (!module) {
            if (!regs_.known(kLr) || !c_.moduleAt(lookup(regs_.r[kLr]))) return "pc in no library";
            regs_.set(kPc, callSite(c_, regs_.r[kLr]));
            regs_.forget(kLr);
            return {};
        }
        const StepResult step = module->step(env_, regs_);
        if (!step.stepped()) return "step status " + std::to_string(static_cast<int>(step.status)) + " in " + c_.moduleNameAt(lookup(regs_.r[kPc]));
        trampoline_ = isTrampoline(c_, regs_.r[kPc]);
        afterSignal_ = fromTrampoline;
        if (!trampoline_ && !afterSignal_) regs_.r[kPc] = callSite(c_, regs_.r[kPc]);
        return {};
    }
    bool matches(const testsupport::ExpectedFrame& expected) const {
        const TargetWord pc = stripPointerAuth(regs_.r[kPc], 39);
        // Android moves the pc of the frame a signal interrupted back to a call site too; the
        // driver keeps it, as the comparison with Android's frames allows.
        const bool pcAgrees = pc == expected.pc || (afterSignal_ && callSite(c_, pc) == expected.pc);
        return pcAgrees && regs_.r[kSp] == expected.sp;
    }
    const RegisterState& registers() const { return regs_; }

private:
    static TargetWord lookup(TargetWord pc) { return stripPointerAuth(pc, 39) & ~TargetWord{1}; }

    testsupport::OfflineCase& c_;
    StepEnvironment env_;
    RegisterState regs_;
    bool trampoline_ = false, afterSignal_ = false;
};

Replay replay(coresift::Console& console, testsupport::OfflineCase& c) {
    Replay result;
    Walker walker(console, c);
    const std::vector<testsupport::ExpectedFrame>& expected = c.expected();
    for (std::size_t frame = 0; frame < expected.size(); ++frame) {
        if (frame > 0) {
            const std::string problem = walker.next();
            if (!problem.empty()) {
                result.stop = "frame " + std::to_string(frame - 1) + ": " + problem;
                break;
            }
        }
        if (!walker.matches(expected[frame])) {
            char text[160];
            std::snprintf(text, sizeof text, "frame %zu: pc 0x%llx sp 0x%llx, Android 0x%llx 0x%llx", frame,
                          static_cast<unsigned long long>(walker.registers().r[kPc]),
                          static_cast<unsigned long long>(walker.registers().r[kSp]),
                          static_cast<unsigned long long>(expected[frame].pc),
                          static_cast<unsigned long long>(expected[frame].sp));
            result.stop = text;
            break;
        }
        ++result.agree;
    }
    return result;
}

struct CaseGoal {
    const char* name;
    std::size_t frames;  // frames that must agree
};

class OfflineStep : public testsupport::UnwindTest {};

TEST_F(OfflineStep, StepsReproduceAndroidsFrames) {
    if (testsupport::OfflineCase::casesFolder().empty()) GTEST_SKIP() << "../shared/fixtures is absent";
    const std::vector<CaseGoal> goals = kIs64 ? std::vector<CaseGoal>{{"bad_eh_frame_hdr_arm64", 5},
                                                                     {"empty_arm64", 7},
                                                                     {"load_bias_different_section_bias_arm64", 12},
                                                                     {"pauth_pc_arm64", 26},
                                                                     {"straddle_arm64", 6}}
                                              : std::vector<CaseGoal>{{"debug_frame_load_bias_arm", 8},
                                                                      {"invalid_elf_offset_arm", 1},
                                                                      {"offset_arm", 19},
                                                                      {"signal_load_bias_arm", 17},
                                                                      {"zlib_compress_arm", 7}};
    std::size_t ran = 0;
    for (const CaseGoal& goal : goals) {
        testsupport::OfflineCase c(console(), goal.name);
        if (!c.usable()) continue;
        ++ran;
        const Replay r = replay(console(), c);
        std::printf("  %-42s %2zu of %2zu frames agree%s%s\n", goal.name, r.agree, c.expected().size(),
                    r.stop.empty() ? "" : "; stopped at ", r.stop.c_str());
        EXPECT_GE(r.agree, goal.frames) << goal.name << ": " << r.stop;
    }
    if (ran == 0) GTEST_SKIP() << "no case could be loaded";
}

}  // namespace

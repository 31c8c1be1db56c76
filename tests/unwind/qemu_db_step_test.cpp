// Steps through the statically linked programs of the qemu-made exception dbs against gdb's
// backtrace of the same core: every thread is walked from its registers in the core through the
// program's own tables (`.debug_frame`, `.eh_frame`, `.ARM.exidx`), with prologue analysis where
// a table says a function cannot be unwound (glibc's abort) or where no table covers the pc, and
// the return addresses must be gdb's, frame for frame. Where every source fails the walk goes on
// with LR, as the backtrace driver's recovery does.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "analyzer/unwind/module_unwinder.h"
#include "analyzer/unwind/prologue_analysis.h"
#include "tests/unwind/qemu_dbs.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
namespace fs = std::filesystem;

constexpr unsigned kPc = kPcRegister, kLr = kIs64 ? 30 : 14;
constexpr std::size_t kMaxFrames = 64;

using testsupport::GdbFrames;

class StaticDb {
public:
    StaticDb(coresift::Console& console, const fs::path& folder) : console_(console), core_(console, folder) {
        if (!core_.usable()) return;
        unwinder_ = std::make_unique<ModuleUnwinder>(tablesFromImage(core_.program(), 0, "crashfix"));
        symbols_ = core_.program().symbolTable();
    }
    bool usable() const { return unwinder_ && core_.usable(); }
    const std::vector<std::pair<std::uint32_t, RegisterState>>& threads() const { return core_.threads; }

    // The return addresses of a walk from `regs` (frame 0: the pc), Thumb bits cleared.
    std::vector<std::uint64_t> walk(RegisterState regs, std::size_t& byPrologue) {
        const StepEnvironment env{&console_, &core_.memory, 39};
        std::vector<std::uint64_t> pcs{regs.r[kPc] & ~TargetWord{1}};
        while (pcs.size() < kMaxFrames) {
            if (pcs.size() > 1) regs.r[kPc] = callSite(regs.r[kPc]);
            StepResult step = unwinder_->step(env, regs);
            if (step.status == StepStatus::CannotUnwind || step.status == StepStatus::NoEntry) {
                if (std::optional<TargetWord> start = functionStart(env, regs.r[kPc])) {
                    step = stepByPrologue(env, *start, regs);
                    if (step.stepped()) ++byPrologue;
                }
            }
            if (!step.stepped() && regs.known(kLr)) {
                // The driver's recovery: LR, as for a crash on a prologue's first push into the
                // stack guard (the index describes the whole prologue; the stack is unreadable).
                regs.set(kPc, regs.r[kLr]);
                regs.forget(kLr);
                step.status = StepStatus::Stepped;
            }
            if (!step.stepped() || regs.r[kPc] == 0) break;
            pcs.push_back(regs.r[kPc] & ~TargetWord{1});
        }
        return pcs;
    }

private:
    TargetWord callSite(TargetWord returnAddress) const {
        if (kIs64 || !(returnAddress & 1)) return returnAddress - 4;
        std::uint32_t before = 0;
        const bool wide = core_.memory.read32((returnAddress & ~TargetWord{1}) - 4, before) && (before & 0xC000F000u) == 0xC000F000u;
        return returnAddress - (wide ? 4 : 2);
    }
    // The function holding `pc`: by the symbol table, else by the exception index (whose entries
    // may skip a function without tables, such as glibc's abort, and then name the one before).
    std::optional<TargetWord> functionStart(const StepEnvironment& env, TargetWord pc) {
        std::optional<TargetWord> start;
        const TargetWord address = pc & ~TargetWord{1};
        symbols_.forEach([&](const coresift::Symbol& symbol) {
            const TargetWord value = static_cast<TargetWord>(symbol.value) & ~TargetWord{1};
            if (symbol.type() == 2 && value <= address && address < value + symbol.size) start = value | (pc & 1);
            return start ? 1 : 0;
        });
        if (start) return start;
        if (std::optional<FunctionExtent> extent = unwinder_->exidxFunctionAt(env, pc)) return extent->start | (pc & 1);
        return std::nullopt;
    }

    coresift::Console& console_;
    testsupport::StaticQemuCore core_;
    std::unique_ptr<ModuleUnwinder> unwinder_;
    coresift::SymbolTable symbols_;
};

class QemuDbStep : public testsupport::UnwindTest {};

TEST_F(QemuDbStep, StaticProgramsUnwindAsGdbDoes) {
    const fs::path data(FERROVANE_TEST_DATA_DIR);
    const std::vector<std::string> dbs = kIs64 ? std::vector<std::string>{"arm64-static-abort", "arm64-static-nullwrite",
                                                                         "arm64-static-recursion"}
                                               : std::vector<std::string>{"arm-static-thumb-exidx-abort",
                                                                          "arm-static-arm-nullwrite",
                                                                          "arm-static-arm-exidx-recursion"};
    std::size_t ran = 0;
    for (const std::string& name : dbs) {
        if (!fs::exists(data / name / "expected/gdb-bt.txt")) continue;
        StaticDb db(console(), data / name);
        ASSERT_TRUE(db.usable()) << name;
        const auto gdb = testsupport::gdbThreadFrames(data / name / "expected/gdb-bt.txt");
        ASSERT_EQ(gdb.size(), db.threads().size()) << name;
        ++ran;
        std::size_t compared = 0, agree = 0, byPrologue = 0;
        for (const auto& [lwp, registers] : db.threads()) {
            ASSERT_TRUE(gdb.count(lwp)) << name << " LWP " << lwp;
            const GdbFrames& frames = gdb.at(lwp);
            const std::vector<std::uint64_t> ours = db.walk(registers, byPrologue);
            // gdb's walk ends in the thread's entry code with a frame of its own guessing ("??")
            // that the tables do not describe: frames up to ours are compared.
            for (std::size_t f = 0; f < frames.size() && f < ours.size(); ++f) {
                if (!frames[f]) continue;
                ++compared;
                if (ours[f] == *frames[f]) ++agree;
                else ADD_FAILURE() << name << " LWP " << lwp << " frame " << f << ": 0x" << std::hex << ours[f]
                                   << ", gdb 0x" << *frames[f];
            }
            EXPECT_GE(ours.size() + 1, std::min(frames.size(), kMaxFrames)) << name << " LWP " << lwp << " ends at 0x"
                                                                             << std::hex << ours.back();
        }
        std::printf("  %-32s %zu threads, %3zu frames compared, %3zu agree with gdb (%zu steps by prologue analysis)\n",
                    name.c_str(), gdb.size(), compared, agree, byPrologue);
    }
    if (ran == 0) GTEST_SKIP() << "the qemu-made dbs were not unpacked";
}

}  // namespace

// Walks the statically linked programs of the qemu-made exception dbs as if no unwind table
// existed: every step is forward emulation to the function's return, with the driver's LR
// recovery where emulation finds none. The return addresses must be gdb's (gdb unwinds the same
// core with the program's full tables).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "analyzer/decode/effects.h"
#include "analyzer/decode/forward_emulation.h"
#include "analyzer/symbols/symbol_file.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "analyzer/symbols/symbol_source.h"
#include "analyzer/unwind/frame_heuristics.h"
#include "tests/unwind/qemu_dbs.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
namespace fs = std::filesystem;
using coresift::decode::kRegLr;
using coresift::decode::kRegPc;
using coresift::decode::kRegSp;

constexpr std::size_t kMaxFrames = 64;

using testsupport::gdbThreadFrames;
using testsupport::GdbFrames;
using StaticCore = testsupport::StaticQemuCore;

// gdb's physical frames of one thread with their argument texts ("name=value" each).
struct GdbCall {
    std::uint64_t pc = 0;
    std::vector<std::pair<std::string, std::string>> arguments;
};

std::vector<GdbCall> gdbCalls(const fs::path& file, std::uint32_t lwp) {
    std::vector<GdbCall> calls;
    bool inThread = false;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Thread ", 0) == 0) inThread = line.find("(LWP " + std::to_string(lwp) + ")") != std::string::npos;
        if (!inThread || line.rfind("#", 0) != 0) continue;
        const std::size_t address = line.find(" 0x"), in_ = line.find(" in ");
        if (address == std::string::npos || in_ == std::string::npos || address > in_) continue;
        GdbCall call;
        call.pc = std::stoull(line.substr(address + 1), nullptr, 16);
        // The argument list: the last parenthesis group before " at " (or the line's end).
        std::size_t end = line.rfind(") at ");
        if (end == std::string::npos) end = line.rfind(')');
        int depth = 0;
        std::size_t open = std::string::npos;
        for (std::size_t i = end; i-- > in_;) {
            if (line[i] == ')') ++depth;
            if (line[i] == '(' && depth-- == 0) {
                open = i;
                break;
            }
        }
        if (open == std::string::npos) continue;
        std::istringstream list(line.substr(open + 1, end - open - 1));
        for (std::string part; std::getline(list, part, ',');) {
            const std::size_t equals = part.find('=');
            if (equals == std::string::npos) continue;
            std::string name = part.substr(part.find_first_not_of(' '), equals - part.find_first_not_of(' '));
            std::string value = part.substr(equals + 1);
            value = value.substr(0, value.find(' '));
            call.arguments.push_back({name, value});
        }
        calls.push_back(call);
    }
    return calls;
}

struct WalkCounts {
    std::size_t emulated = 0, byLinkRegister = 0, byStackScan = 0, instructions = 0;
};

TargetWord callSite(const coresift::decode::TargetMemory& memory, TargetWord returnAddress) {
    if (kIs64 || !(returnAddress & 1)) return returnAddress - 4;
    std::uint32_t before = 0;
    const bool wide = memory.read32((returnAddress & ~TargetWord{1}) - 4, before) && (before & 0xC000F000u) == 0xC000F000u;
    return returnAddress - (wide ? 4 : 2);
}

// True when the instruction before return address `candidate` is a call.
bool followsCall(const coresift::decode::TargetMemory& memory, TargetWord candidate) {
    std::uint32_t word = 0;
    if (kIs64) {
        return memory.read32(candidate - 4, word) && ((word & 0xFC000000u) == 0x94000000u || (word & 0xFFFFFC1Fu) == 0xD63F0000u);
    }
    if (candidate & 1) {
        std::uint16_t halfword = 0;
        const TargetWord at = candidate & ~TargetWord{1};
        if (memory.read32(at - 4, word) && (word & 0xC000F800u) == 0xC000F000u) return true;
        return memory.read16(at - 2, halfword) && (halfword & 0xFF87) == 0x4780;
    }
    return memory.read32(candidate - 4, word) && ((word & 0x0F000000u) == 0x0B000000u || (word >> 25) == 0x7D ||
                                                  (word & 0x0FFFFFF0u) == 0x012FFF30u);
}

// The driver's last resort: the first stack word above SP that is a return address into the
// program's code; SP moves past it (AArch64: to the caller's frame record) and only SP and PC
// are known.
bool scanStack(const coresift::decode::TargetMemory& memory, std::pair<TargetWord, TargetWord> code, RegisterState& regs) {
    if (!regs.known(kRegSp)) return false;
    const TargetWord sp = (regs.r[kRegSp] + 7) & ~TargetWord{7};
    for (TargetWord slot = sp; slot - sp < 0x4000; slot += sizeof(TargetWord)) {
        TargetWord candidate = 0;
        if (!memory.readWord(slot, candidate)) return false;
        if ((candidate & 3) == 2 || candidate < code.first || candidate >= code.second) continue;
        if (!followsCall(memory, candidate)) continue;
        regs = RegisterState{};
        regs.set(kRegSp, slot + sizeof(TargetWord));
        regs.set(kRegPc, candidate);
        // AArch64 frame records lie at the bottom of frames: the saved frame pointer below the
        // return address is the caller's, whose record is at its SP after its prologue.
        TargetWord framePointer = 0;
        if (kIs64 && memory.readWord(slot - 8, framePointer) && framePointer > slot) {
            regs.set(kRegSp, framePointer);
            regs.set(29, framePointer);
        }
        return true;
    }
    return false;
}

// The pcs of a walk, and the registers of each frame (pc at the call site for every frame but the
// first) in `frames` when given.
std::vector<std::uint64_t> walk(const coresift::decode::TargetMemory& memory, std::pair<TargetWord, TargetWord> code,
                                RegisterState regs, WalkCounts& counts, std::vector<RegisterState>* frames = nullptr) {
    std::vector<std::uint64_t> pcs{regs.r[kRegPc] & ~TargetWord{1}};
    while (pcs.size() < kMaxFrames) {
        if (pcs.size() > 1) regs.r[kRegPc] = callSite(memory, regs.r[kRegPc]);
        if (frames) frames->push_back(regs);
        const coresift::decode::EmulationResult r = coresift::decode::emulateToReturn(regs, memory);
        counts.instructions += r.instructions;
        if (r.ok) {
            regs = r.caller;
            ++counts.emulated;
        } else if (regs.known(kRegLr) && (regs.r[kRegLr] & 3) != 2) {
            regs.set(kRegPc, regs.r[kRegLr]);
            regs.forgetMask(coresift::decode::kCallClobbered);
            ++counts.byLinkRegister;
        } else if (scanStack(memory, code, regs)) {
            ++counts.byStackScan;
        } else {
            break;
        }
        if (regs.r[kRegPc] == 0) break;
        pcs.push_back(regs.r[kRegPc] & ~TargetWord{1});
    }
    return pcs;
}

class EmulationWalk : public testsupport::UnwindTest {};

TEST_F(EmulationWalk, StaticProgramsWithoutTablesUnwindAsGdbDoes) {
    const fs::path data(FERROVANE_TEST_DATA_DIR);
    const std::vector<std::string> dbs =
        kIs64 ? std::vector<std::string>{"arm64-static-abort", "arm64-static-nullwrite", "arm64-static-recursion",
                                         "arm64-static-nodebug-undefined"}
              : std::vector<std::string>{"arm-static-thumb-exidx-abort", "arm-static-arm-nullwrite",
                                         "arm-static-arm-exidx-recursion", "arm-static-thumb-nodebug-undefined"};
    std::size_t ran = 0;
    for (const std::string& name : dbs) {
        if (!fs::exists(data / name / "expected/gdb-bt.txt")) continue;
        StaticCore db(console(), data / name);
        ASSERT_TRUE(db.usable()) << name;
        const auto gdb = gdbThreadFrames(data / name / "expected/gdb-bt.txt");
        ++ran;
        std::size_t compared = 0, agree = 0;
        WalkCounts counts;
        for (const auto& [lwp, registers] : db.threads) {
            ASSERT_TRUE(gdb.count(lwp)) << name << " LWP " << lwp;
            const GdbFrames& frames = gdb.at(lwp);
            const std::vector<std::uint64_t> ours = walk(db.memory, db.code, registers, counts);
            for (std::size_t f = 0; f < frames.size() && f < ours.size(); ++f) {
                if (!frames[f]) continue;
                ++compared;
                if (ours[f] == *frames[f]) ++agree;
                else ADD_FAILURE() << name << " LWP " << lwp << " frame " << f << ": 0x" << std::hex << ours[f]
                                   << ", gdb 0x" << *frames[f];
            }
            // gdb's last frame is its own guess in the thread's entry code ("??"): one frame less.
            EXPECT_GE(ours.size() + 1, std::min(frames.size(), kMaxFrames)) << name << " LWP " << lwp << " ends at 0x"
                                                                             << std::hex << ours.back();
        }
        std::printf("  %-36s %3zu frames compared, %3zu agree with gdb (%zu emulated, %zu by LR, %zu by stack scan; %zu instructions)\n",
                    name.c_str(), compared, agree, counts.emulated, counts.byLinkRegister, counts.byStackScan,
                    counts.instructions);
    }
    if (ran == 0) GTEST_SKIP() << "the qemu-made dbs were not unpacked";
}

// The arguments the heuristics give the crashing thread's frames, from the frames' registers,
// the call sites and the program's debugging information, against the values gdb prints.
TEST_F(EmulationWalk, ArgumentsOfTheCrashingThreadAreGdbs) {
    const fs::path data(FERROVANE_TEST_DATA_DIR);
    const std::string name = kIs64 ? "arm64-static-nullwrite" : "arm-static-arm-nullwrite";
    const fs::path gdbFile = data / name / "expected/gdb-bt.txt";
    if (!fs::exists(gdbFile)) GTEST_SKIP() << "the qemu-made dbs were not unpacked";
    StaticCore db(console(), data / name);
    ASSERT_TRUE(db.usable());
    auto symbols = std::make_unique<coresift::SymbolSource>(console(), "crashfix", 0);
    auto image = coresift::ElfImage::open(console(),
                                          coresift::MappedFile::open((data / name / "db/symbols/system/bin/crashfix").string()),
                                          coresift::elf::kSymbolFileTypes);
    ASSERT_TRUE(image);
    symbols->setSymbolFile(std::make_unique<coresift::SymbolFile>(console(), std::move(image)), true);
    const auto& [lwp, registers] = db.threads.front();
    std::vector<RegisterState> frames;
    WalkCounts counts;
    walk(db.memory, db.code, registers, counts, &frames);
    const std::vector<GdbCall> gdb = gdbCalls(gdbFile, lwp);
    ASSERT_GE(gdb.size(), 6u);

    std::unique_ptr<FrameHeuristics> heuristics = makeFrameHeuristics();
    const StepEnvironment env{&console(), &db.memory, 39};
    std::size_t compared = 0, agree = 0;
    for (std::size_t f = 0; f + 1 < frames.size() && f < gdb.size(); ++f) {
        ArgumentRequest request;
        request.registers = frames[f];
        request.symbols = symbols.get();
        request.caller = &frames[f + 1];
        const TargetWord pc = frames[f].r[kRegPc];
        std::string mangled;
        if (auto hit = coresift::symbolAt(*symbols, pc, coresift::lookup::kFunctionMask)) {
            request.functionStart = hit->start;
            mangled = std::string(hit->name);
            request.symbolName = mangled;
        }
        if (auto hit = coresift::symbolAt(*symbols, frames[f + 1].r[kRegPc], coresift::lookup::kFunctionMask))
            request.callerFunctionStart = hit->start;
        const std::vector<FrameArgument> ours = heuristics->arguments(env, request);
        for (const auto& [argument, text] : gdb[f].arguments) {
            const FrameArgument* found = nullptr;
            for (const FrameArgument& a : ours)
                if (a.name == argument && a.kind != ArgumentKind::Skipped) found = &a;
            if (text.rfind("<optimized", 0) == 0) {
                // gdb knows no value: ours must not claim one it cannot have either.
                EXPECT_EQ(found, nullptr) << mangled << " " << argument << " = " << (found ? found->value : 0);
                continue;
            }
            if (text.rfind("0x", 0) != 0 && text.find_first_not_of("-0123456789") != std::string::npos) continue;
            if (!found) continue;
            ++compared;
            const std::uint64_t expected = std::stoull(text, nullptr, 0);
            if (static_cast<TargetWord>(found->value) == static_cast<TargetWord>(expected)) ++agree;
            else ADD_FAILURE() << mangled << " " << argument << ": 0x" << std::hex << found->value << ", gdb " << text;
        }
    }
    std::printf("  %-36s %zu arguments compared, %zu agree with gdb\n", name.c_str(), compared, agree);
    EXPECT_GE(compared, 5u);
}

}  // namespace

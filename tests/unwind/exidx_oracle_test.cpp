// The ARM exception tables as this unwinder reads them, against binutils' readelf (-u), for
// every `.ARM.exidx` entry of the ARM fixture libraries and this project's own: the entry found
// for the function's address, and the effect of its instructions on a known stack, where
// readelf's decoded operations are replayed by a small interpreter of their text.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "analyzer/unwind/exidx_table.h"
#include "analyzer/unwind/module_unwinder.h"
#include "tests/symbols/elf_fixtures.h"
#include "tests/symbols/readelf_oracle.h"
#include "tests/unwind/readelf_frames.h"
#include "tests/unwind/unwind_fixtures.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::RefExidxEntry;

constexpr std::uint32_t kStack = 0x70000000;
constexpr std::uint32_t kStackWords = 32768;
constexpr std::uint32_t kStackValue = 0x50000000;  // word i holds kStackValue + i

ArmRegisters startFrame() {
    ArmRegisters regs;
    for (unsigned reg = 0; reg < 13; ++reg) regs.set(reg, kStack + 0x2000 + 16 * reg);
    regs.set(ArmRegisters::kSp, kStack + 0x100);
    regs.set(ArmRegisters::kLr, 0x7770);
    regs.set(ArmRegisters::kPc, 0x8880);
    return regs;
}

enum class Outcome { Stepped, Refused, Failed, NotModelled };

// readelf's operations replayed on `regs`.
Outcome replay(const RefExidxEntry& entry, ArmRegisters& regs) {
    // The caller keeps r4-r11, SP and LR of the frame unless they are popped.
    regs.valid &= 0x6FF0;
    std::uint32_t vsp = regs.r[ArmRegisters::kSp];
    bool pcPopped = false;
    for (const auto& [byte, text] : entry.ops) {
        if (text == "finish") break;
        if (text.rfind("vsp = vsp + ", 0) == 0) {
            vsp += static_cast<std::uint32_t>(std::stoul(text.substr(12)));
        } else if (text.rfind("vsp = vsp - ", 0) == 0) {
            vsp -= static_cast<std::uint32_t>(std::stoul(text.substr(12)));
        } else if (text.rfind("vsp = r", 0) == 0) {
            vsp = regs.r[std::stoul(text.substr(7))];
        } else if (text.rfind("pop {D", 0) == 0) {
            // pop {Dn} or {Dn-Dm}: VPUSH takes 8 bytes a register, FSTMFDX (0xB3, 0xB8-0xBF) 4 more.
            unsigned first = 0, last = 0;
            const std::size_t dash = text.find('-');
            first = static_cast<unsigned>(std::stoul(text.substr(6)));
            last = dash == std::string::npos ? first : static_cast<unsigned>(std::stoul(text.substr(dash + 2)));
            vsp += 8 * (last - first + 1) + ((byte == 0xB3 || (byte & 0xF8) == 0xB8) ? 4 : 0);
        } else if (text.rfind("pop {r", 0) == 0) {
            bool spPopped = false;
            std::uint32_t sp = 0, address = vsp;
            std::istringstream list(text.substr(5, text.size() - 6));
            for (std::string item; std::getline(list, item, ',');) {
                const unsigned reg = static_cast<unsigned>(std::stoul(item.substr(item.find('r') + 1)));
                const std::uint32_t value = kStackValue + (address - kStack) / 4;
                address += 4;
                regs.set(reg, value);
                if (reg == ArmRegisters::kSp) spPopped = true, sp = value;
                if (reg == ArmRegisters::kPc) pcPopped = true;
            }
            vsp = spPopped ? sp : address;
        } else if (text.find("efuse") != std::string::npos) {
            return Outcome::Refused;
        } else if (text.find("Spare") != std::string::npos || text.find("eserved") != std::string::npos) {
            return Outcome::Failed;
        } else {
            return Outcome::NotModelled;
        }
    }
    if (!pcPopped) {
        regs.set(ArmRegisters::kPc, regs.r[ArmRegisters::kLr]);
        regs.valid &= ~(1u << ArmRegisters::kLr);
    }
    regs.set(ArmRegisters::kSp, vsp);
    return Outcome::Stepped;
}

struct Tally {
    std::size_t entries = 0, checked = 0, agree = 0, cantUnwind = 0, generic = 0, notModelled = 0, shadowed = 0;
    std::vector<std::string> disagreements;
};

class ExidxOracle : public testsupport::UnwindTest {
protected:
    ExidxOracle() {
        testsupport::Emitter stack;
        for (std::uint32_t i = 0; i < kStackWords; ++i) stack.u32(kStackValue + i);
        memory.add(kStack, stack.data());
    }

    Tally checkFile(const std::string& path) {
        Tally tally;
        auto image = coresift::ElfImage::open(console(), coresift::MappedFile::open(path), coresift::elf::kSymbolFileTypes,
                                              coresift::ElfClass::Elf32);
        if (!image) return tally;
        std::optional<coresift::ProgramHeader> segment = image->findSegment(elf::kPtArmExidx);
        if (!segment) return tally;
        testsupport::OwnedMemory files;
        files.addImage(*image, 0);
        ExidxTable table("oracle", static_cast<TargetWord>(segment->vaddr), static_cast<std::uint32_t>(segment->memsz / 8));
        const StepEnvironment tableEnv{&console(), &files, 32};

        std::optional<std::string> text = testsupport::runCommand(testsupport::readelfProgram() + " -u " + testsupport::shellQuote(path));
        if (!text) return tally;
        const std::vector<RefExidxEntry> refs = testsupport::parseUnwindInfo(*text);
        for (std::size_t i = 0; i < refs.size(); ++i) {
            const RefExidxEntry& ref = refs[i];
            ++tally.entries;
            // Of entries for the same address (an empty function folded onto the next), the
            // search finds the last, as any binary search over the index does.
            if (i + 1 < refs.size() && (refs[i + 1].function & ~1ull) == (ref.function & ~1ull)) {
                ++tally.shadowed;
                continue;
            }
            const TargetWord function = static_cast<TargetWord>(ref.function & ~1ull);
            std::optional<ExidxTable::Entry> entry = table.entryFor(tableEnv, function);
            std::ostringstream where;
            where << std::hex << "0x" << ref.function << ": ";
            if (!entry || entry->functionStart != function) {
                note(tally, where.str() + "entry not found");
                continue;
            }
            ExidxProgram program;
            const ExidxRun located = table.program(tableEnv, *entry, program);
            if (ref.cantUnwind) {
                ++tally.cantUnwind;
                if (located != ExidxRun::Refused) note(tally, where.str() + "cantunwind not seen");
                else ++tally.agree;
                continue;
            }
            if (ref.generic) {
                ++tally.generic;  // readelf does not decode the data of other personality routines
                if (located != ExidxRun::Done) note(tally, where.str() + "personality data not read");
                continue;
            }
            ArmRegisters expected = startFrame();
            const Outcome outcome = replay(ref, expected);
            if (outcome == Outcome::NotModelled) {
                ++tally.notModelled;
                continue;
            }
            ++tally.checked;
            ArmRegisters ours = startFrame();
            const ExidxRun result = located == ExidxRun::Done ? runExidxProgram(program, memory, ours) : located;
            const bool same = outcome == Outcome::Stepped ? result == ExidxRun::Done && ours.r == expected.r && ours.valid == expected.valid
                            : outcome == Outcome::Refused ? result == ExidxRun::Refused
                                                          : result == ExidxRun::Failed;
            if (same) ++tally.agree;
            else note(tally, where.str() + "different effect (run " + std::to_string(static_cast<int>(result)) + ")");
        }
        return tally;
    }
    static void note(Tally& tally, const std::string& text) {
        if (tally.disagreements.size() < 12) tally.disagreements.push_back(text);
    }
};

TEST_F(ExidxOracle, EntriesAndInstructionsAgreeWithReadelf) {
    if (testsupport::readelfProgram().empty()) GTEST_SKIP() << "readelf is not available";
    std::vector<testsupport::FixtureFile> files = testsupport::wellFormedElfFiles(coresift::ElfClass::Elf32);
    for (const testsupport::FixtureFile& own : testsupport::unwindFixtureFiles(true)) files.push_back(own);
    Tally total;
    std::size_t tables = 0;
    for (const testsupport::FixtureFile& file : files) {
        Tally tally = checkFile(file.path.string());
        if (tally.entries == 0) continue;
        ++tables;
        std::printf("  %-44s %5zu entries: %5zu replayed, %3zu cantunwind, %3zu other personality, %2zu same address; "
                    "%5zu agree\n", file.label.c_str(), tally.entries, tally.checked, tally.cantUnwind, tally.generic,
                    tally.shadowed, tally.agree);
        for (const std::string& d : tally.disagreements) ADD_FAILURE() << file.label << ": " << d;
        EXPECT_EQ(tally.notModelled, 0u) << file.label;
        total.entries += tally.entries;
        total.checked += tally.checked;
        total.cantUnwind += tally.cantUnwind;
        total.agree += tally.agree;
        total.generic += tally.generic;
        total.shadowed += tally.shadowed;
    }
    std::printf("  all: %zu tables, %zu entries, %zu agree with readelf (%zu replayed, %zu cantunwind); %zu with other "
                "personality routines, %zu sharing an address with the next\n", tables, total.entries, total.agree,
                total.checked, total.cantUnwind, total.generic, total.shadowed);
    EXPECT_EQ(total.agree, total.checked + total.cantUnwind);
    if (tables == 0) GTEST_SKIP() << "no ARM files with exception tables";
}

}  // namespace

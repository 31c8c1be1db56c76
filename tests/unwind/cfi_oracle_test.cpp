// The CFI rows this unwinder computes, against binutils' readelf (--debug-dump=frames-interp),
// for every FDE of every real ARM (CoreSift) or AArch64 (CoreSift64) file of the fixture sets and
// of this project's own cross-compiled unwind fixtures: at the first and the last pc of every
// row, the FDE found for the pc and the CFA and register rules must be readelf's.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "analyzer/unwind/cfi_program.h"
#include "analyzer/unwind/module_unwinder.h"
#include "tests/symbols/elf_fixtures.h"
#include "tests/symbols/readelf_oracle.h"
#include "tests/unwind/readelf_frames.h"
#include "tests/unwind/unwind_fixtures.h"
#include "tests/unwind/unwind_support.h"

namespace {

using namespace coresift::unwind;
using testsupport::RefFde;
using testsupport::RefRow;
using testsupport::RefRule;

struct Tally {
    std::size_t fdes = 0, rows = 0, pcs = 0, agree = 0, readelfIncomplete = 0;
    std::vector<std::string> disagreements;
    void note(const std::string& text) {
        if (disagreements.size() < 12) disagreements.push_back(text);
    }
};

bool ruleAgrees(const RefRule& ref, const RegisterRule& ours, const RegisterRule& fallback) {
    switch (ref.kind) {
        // readelf starts every column undefined; ours start as the callee-saved defaults.
        case RefRule::Kind::Undefined: return ours.kind == RuleKind::Undefined || ours == fallback;
        case RefRule::Kind::Same: return ours.kind == RuleKind::SameValue;
        case RefRule::Kind::Offset: return ours.kind == RuleKind::Offset && ours.offset == ref.value;
        case RefRule::Kind::ValOffset: return ours.kind == RuleKind::ValOffset && ours.offset == ref.value;
        case RefRule::Kind::Register: return ours.kind == RuleKind::Register && static_cast<std::int64_t>(ours.reg) == ref.value;
        case RefRule::Kind::Expression: return ours.kind == RuleKind::Expression;
        case RefRule::Kind::ValExpression: return ours.kind == RuleKind::ValExpression;
        case RefRule::Kind::Other: return false;
    }
    return false;
}

// Compares one row at one pc; an empty string when they agree.
std::string compareRow(const RefFde& fde, const std::vector<int>& columns, const RefRow& ref, const CfiRowAt& ours) {
    std::ostringstream why;
    if (ours.fde.pcBegin != fde.begin || ours.fde.pcEnd != fde.end) {
        why << "FDE " << std::hex << ours.fde.pcBegin << ".." << ours.fde.pcEnd;
        return why.str();
    }
    const CfaRule& cfa = ours.row.cfa;
    if (ref.cfaIsExpression ? cfa.kind != CfaKind::Expression
                            : (cfa.kind != CfaKind::RegisterOffset || static_cast<int>(cfa.reg) != ref.cfaRegister ||
                               cfa.offset != ref.cfaOffset)) {
        why << "CFA " << static_cast<int>(cfa.kind) << " r" << cfa.reg << std::showpos << cfa.offset;
        return why.str();
    }
    const CfiRow defaults = defaultRow(ours.fde.cie.returnRegister);
    std::vector<bool> shown(kRuleCount, false);
    for (std::size_t i = 0; i < columns.size() && i < ref.rules.size(); ++i) {
        const int reg = columns[i];
        if (reg < 0 || reg >= static_cast<int>(kRuleCount) || reg == static_cast<int>(kSpRegister)) continue;
        shown[reg] = true;
        const RegisterRule& rule = ours.row.rules[reg];
        if (!ruleAgrees(ref.rules[i], rule, defaults.rules[reg])) {
            why << "r" << std::dec << reg << " kind " << static_cast<int>(rule.kind) << " offset " << rule.offset;
            return why.str();
        }
    }
    // A register readelf does not show has no rule: ours must be the default.
    for (unsigned reg = 0; reg < kRuleCount; ++reg) {
        if (shown[reg] || reg == kSpRegister) continue;
        if (!(ours.row.rules[reg] == defaults.rules[reg])) {
            why << "r" << std::dec << reg << " has a rule readelf does not show";
            return why.str();
        }
    }
    return {};
}

Tally checkFile(coresift::Console& console, const std::string& path) {
    Tally tally;
    auto image = coresift::ElfImage::open(console, coresift::MappedFile::open(path), coresift::elf::kSymbolFileTypes);
    if (!image) return tally;
    testsupport::OwnedMemory memory;
    memory.addImage(*image, 0);
    ModuleUnwinder unwinder(tablesFromImage(*image, 0, "oracle"));
    const StepEnvironment env{&console, &memory, 48};

    const std::string command = testsupport::readelfProgram() + " -wN --debug-dump=frames-interp " + testsupport::shellQuote(path) + " 2>/dev/null";
    std::optional<std::string> text = testsupport::runCommand(command);
    if (!text) return tally;
    for (const RefFde& fde : testsupport::parseFramesInterp(*text, kIs64)) {
        if (fde.begin == 0 || fde.end <= fde.begin) continue;  // functions the linker dropped
        const StepSource source = fde.section == ".debug_frame" ? StepSource::DebugFrame : StepSource::EhFrame;
        if (fde.incomplete) {
            ++tally.readelfIncomplete;
            continue;
        }
        ++tally.fdes;
        std::vector<RefRow> rows = fde.rows;
        std::vector<int> columns = fde.columns;
        if (rows.empty()) {
            // No instructions of its own: the CIE's row holds over the whole range.
            if (fde.cieRows.empty()) continue;
            rows = {fde.cieRows.back()};
            rows[0].location = fde.begin;
            columns = fde.cieColumns;
        }
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::uint64_t last = (i + 1 < rows.size() ? rows[i + 1].location : fde.end) - 1;
            if (rows[i].location < fde.begin || rows[i].location > last) continue;
            ++tally.rows;
            for (std::uint64_t pc : {rows[i].location, last}) {
                ++tally.pcs;
                std::optional<CfiRowAt> ours = unwinder.cfiRowAt(env, static_cast<TargetWord>(pc), source);
                std::string why = ours ? compareRow(fde, columns, rows[i], *ours) : "no row";
                if (why.empty()) {
                    ++tally.agree;
                } else {
                    std::ostringstream where;
                    where << fde.section << " pc 0x" << std::hex << pc << " (FDE " << fde.begin << ".." << fde.end << "): " << why;
                    tally.note(where.str());
                }
                if (pc == last) break;
            }
        }
    }
    return tally;
}

class CfiOracle : public testsupport::UnwindTest {};

TEST_F(CfiOracle, RowsAgreeWithReadelfOnRealLibraries) {
    if (testsupport::readelfProgram().empty()) GTEST_SKIP() << "readelf is not available";
    std::vector<testsupport::FixtureFile> files = testsupport::wellFormedElfFiles(coresift::kTargetElfClass);
    for (const testsupport::FixtureFile& own : testsupport::unwindFixtureFiles()) files.push_back(own);
    if (files.empty()) GTEST_SKIP() << "no fixture files (../shared is absent and no cross compiler)";
    Tally total;
    std::size_t filesWithCfi = 0;
    for (const testsupport::FixtureFile& file : files) {
        Tally tally = checkFile(console(), file.path.string());
        if (tally.fdes == 0) continue;
        ++filesWithCfi;
        std::printf("  %-48s %6zu FDEs %7zu rows %7zu pcs, %7zu agree", file.label.c_str(), tally.fdes, tally.rows,
                    tally.pcs, tally.agree);
        if (tally.readelfIncomplete) std::printf(" (%zu FDEs readelf cannot show)", tally.readelfIncomplete);
        std::printf("\n");
        for (const std::string& d : tally.disagreements) ADD_FAILURE() << file.label << ": " << d;
        total.fdes += tally.fdes;
        total.rows += tally.rows;
        total.pcs += tally.pcs;
        total.agree += tally.agree;
        total.readelfIncomplete += tally.readelfIncomplete;
    }
    std::printf("  all: %zu files, %zu FDEs, %zu rows, %zu pcs, %zu agree with readelf; %zu FDEs left out where "
                "readelf reports a bad register\n", filesWithCfi, total.fdes, total.rows, total.pcs, total.agree,
                total.readelfIncomplete);
    EXPECT_EQ(total.agree, total.pcs);
    EXPECT_GT(total.fdes, 0u);
}

}  // namespace

// Verdicts and listings on the exception dbs made from real crashes under qemu-user. The crashed
// thread's frames come from gdb's backtrace of the same core (the unwinder is checked elsewhere);
// the static programs' symbols come from their symbol files through the symbol look-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/crash_stack.h"
#include "analyzer/diagnosis/instruction_listing.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/thread_stacks.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "analyzer/unwind/process_adapters.h"
#include "tests/driver/report_text.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tools/corekit/core_reader.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;

const fs::path kData(FERROVANE_TEST_DATA_DIR);

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct MapLine {
    std::uint64_t start = 0, end = 0;
    bool executable = false;
    std::string path;
};

std::vector<MapLine> mapsOf(const fs::path& db) {
    std::vector<MapLine> maps;
    for (const std::string& line : linesOf(readFile(db / "PROCESS_MAPS"))) {
        MapLine m;
        std::istringstream in(line);
        std::string range, perms, offset, device, inode;
        in >> range >> perms >> offset >> device >> inode >> m.path;
        const auto dash = range.find('-');
        if (dash == std::string::npos) continue;
        m.start = std::stoull(range.substr(0, dash), nullptr, 16);
        m.end = std::stoull(range.substr(dash + 1), nullptr, 16);
        m.executable = perms.size() > 2 && perms[2] == 'x';
        maps.push_back(m);
    }
    return maps;
}

// The current thread's frames with an address, as gdb printed them ("#N  0x... in NAME (...").
std::vector<coresift::CrashFrame> gdbFrames(const fs::path& expected, const std::vector<MapLine>& maps) {
    const std::vector<std::string> lines = linesOf(readFile(expected / "gdb-bt.txt"));
    std::string lwp;
    for (const std::string& line : lines)
        if (line.rfind("[Current thread is", 0) == 0) lwp = line.substr(line.find("(LWP") + 5, std::string::npos);
    lwp = lwp.substr(0, lwp.find(')'));
    std::vector<coresift::CrashFrame> frames;
    bool inThread = false;
    for (const std::string& line : lines) {
        if (line.rfind("Thread ", 0) == 0) {
            inThread = line.find("(LWP " + lwp + ")") != std::string::npos;
            continue;
        }
        if (!inThread || line.rfind("#", 0) != 0) continue;
        const auto hex = line.find("0x");
        const auto in = line.find(" in ");
        if (hex == std::string::npos || in == std::string::npos || hex > in) continue;  // inlined frames
        coresift::CrashFrame frame;
        frame.pc = static_cast<TargetWord>(std::stoull(line.substr(hex), nullptr, 16));
        std::string name = line.substr(in + 4);
        name = name.substr(0, name.find(" ("));
        if (name != "??") frame.function = name;
        for (const MapLine& m : maps)
            if (frame.pc >= m.start && frame.pc < m.end) frame.module = fs::path(m.path).filename().string();
        frames.push_back(frame);
    }
    return frames;
}

// The crashed thread's frames; the innermost one takes the thread's registers once loaded.
class GdbStack final : public coresift::CrashStack {
public:
    GdbStack(coresift::RunContext& context, std::vector<coresift::CrashFrame> frames)
        : context_(context), frames_(std::move(frames)) {}
    const std::vector<coresift::CrashFrame>& crashFrames() override {
        if (!frames_.empty() && context_.core && context_.core->firstThread) {
            frames_[0].registers = coresift::unwind::threadRegisters(context_.core->firstThread->registers);
            frames_[0].pc = frames_[0].registers.r[coresift::decode::kRegPc];
        }
        return frames_;
    }

private:
    coresift::RunContext& context_;
    std::vector<coresift::CrashFrame> frames_;
};

// A static program's symbols from its symbol file (load bias 0).
class StaticSymbols final : public coresift::CodeSymbols {
public:
    StaticSymbols(coresift::Console& console, const fs::path& file, std::vector<MapLine> maps)
        : source_(console, file.filename().string(), 0), maps_(std::move(maps)) {
        auto mapped = coresift::MappedFile::open(file.string());
        if (!mapped) return;
        auto image = coresift::ElfImage::open(console, mapped, coresift::elf::kSymbolFileTypes);
        if (image) source_.setSymbolFile(std::make_unique<coresift::SymbolFile>(console, std::move(image)), true);
    }
    bool hasSymbolFile(TargetWord address) override {
        for (const MapLine& m : maps_)
            if (address >= m.start && address < m.end && m.executable && m.path.ends_with("/crashfix"))
                return source_.symbolFile() != nullptr;
        return false;
    }
    std::optional<coresift::FunctionExtent> functionAt(TargetWord address) override {
        auto hit = coresift::symbolAt(source_, address, coresift::lookup::kFunctionMask);
        if (!hit) return std::nullopt;
        return coresift::FunctionExtent{hit->start, hit->size, std::string(source_.shownName(hit->name))};
    }
    std::optional<coresift::SourcePosition> lineAt(TargetWord address) override {
        auto line = coresift::lineAt(source_, address);
        if (!line) return std::nullopt;
        return coresift::SourcePosition{line->path(), line->line};
    }
    std::string formatValue(TargetWord value) override {
        return coresift::formatValue([this](TargetWord) { return &source_; }, value);
    }
    const coresift::decode::SymbolNamer* namer() override { return &namer_; }

private:
    // Call targets by the program's function symbols.
    class Namer final : public coresift::decode::SymbolNamer {
    public:
        explicit Namer(coresift::SymbolSource& source) : source_(source) {}
        bool functionAt(TargetWord address, std::string_view& name, TargetWord& offset) const override {
            auto hit = coresift::symbolAt(source_, address, coresift::lookup::kFunctionMask);
            if (!hit || hit->name == coresift::kUnknownFunction) return false;
            name = source_.shownName(hit->name);
            offset = (address & ~TargetWord{1}) - (hit->start & ~TargetWord{1});
            return true;
        }

    private:
        coresift::SymbolSource& source_;
    };

    coresift::SymbolSource source_;
    std::vector<MapLine> maps_;
    Namer namer_{source_};
};

// Lists the crashed thread's code where the thread report asks for it.
class ListingStacks final : public coresift::ThreadStacks {
public:
    explicit ListingStacks(coresift::RunContext& context) : context_(context) {}
    coresift::StackAddresses addresses(coresift::ThreadRecord&) override { return {}; }
    void writeStacks(coresift::ReportWriter& report, coresift::ThreadRecord& thread) override {
        if (thread.isFirst()) coresift::writeInstructionListing(context_, report);
    }

private:
    coresift::RunContext& context_;
};

struct Db {
    std::string name, crash;
    bool isStatic = false;
};

std::vector<Db> dbsOfThisWidth() {
    std::vector<Db> dbs;
    for (const std::string& line : linesOf(readFile(kData / "manifest.tsv"))) {
        if (line.empty() || line[0] == '#' || line.rfind("name\t", 0) == 0) continue;
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
        if (f.size() > 8 && (f[1] == "arm64") == kIs64 && f[8] == "completed") dbs.push_back({f[0], f[5], f[3] == "static"});
    }
    return dbs;
}

struct Outcome {
    std::string detail;  // the verdict line without "Detail  : "
    std::string report;
};

// The crashed thread's id as gdb names it.
std::string crashedTid(const Db& db) {
    for (const std::string& line : linesOf(readFile(kData / db.name / "expected" / "gdb-bt.txt"))) {
        if (line.rfind("[Current thread is", 0) != 0) continue;
        const std::string lwp = line.substr(line.find("(LWP") + 5);
        return lwp.substr(0, lwp.find(')'));
    }
    return {};
}

// How the run learns the crashed thread's frames: from gdb's backtrace (with the program's symbol
// file for the listing), or from the analyzer's own backtrace driver and module list.
enum class Frames { Gdb, Own };

Outcome analyze(const Db& db, const std::string& kernelLog = {}, Frames source = Frames::Gdb) {
    testsupport::TempFolder folder;
    fs::copy(kData / db.name / "db", folder.path(), fs::copy_options::recursive);
    if (!kernelLog.empty()) folder.write("SYS_KERNEL_LOG", kernelLog);
    const std::vector<MapLine> maps = mapsOf(folder.path());
    testsupport::RunCapture run;
    coresift::RunContext& context = run.context();
    if (source == Frames::Gdb) context.crashStack = std::make_unique<GdbStack>(context, gdbFrames(kData / db.name / "expected", maps));
    if (source == Frames::Gdb && db.isStatic) {
        context.codeSymbols = std::make_unique<StaticSymbols>(context.console,
                                                              folder.path() / "symbols/system/bin/crashfix", maps);
        context.stacks = std::make_unique<ListingStacks>(context);
    }
    {
        testsupport::WorkingFolder cwd(folder.path());
        run.run({"-ext", "259"});
    }
    Outcome outcome;
    outcome.report = drivertest::readReport(folder.path() / "AnalysisReport.txt");
    for (const std::string& line : linesOf(outcome.report))
        if (line.rfind("Detail  : ", 0) == 0) outcome.detail = line.substr(10);
    return outcome;
}

std::uint64_t addressIn(const std::string& detail, const std::string& after) {
    const auto at = detail.find(after);
    if (at == std::string::npos) return ~0ull;
    return std::stoull(detail.substr(at + after.size()), nullptr, 16);
}

// The verdict's address agrees with the kernel's fault address wherever the core carries one.
void expectFaultAddress(const std::string& detail, const std::optional<corekit::SigInfo>& sigInfo) {
    if (!sigInfo) return;
    EXPECT_EQ(addressIn(detail, "illegal address("), sigInfo->addr) << detail;
}

// The "assembly inst." block and the register values after it; empty without one.
std::string listingOf(const std::string& report) {
    const auto title = report.find("   assembly inst.:");
    if (title == std::string::npos) return {};
    return report.substr(title, report.find("\n\n", title) - title);
}

class QemuCrashes : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kData / "manifest.tsv")) GTEST_SKIP() << "no unpacked test data in " << kData;
    }
};

TEST_F(QemuCrashes, EachCrashKindGetsItsVerdict) {
    const std::string please = ", please check code with crashed thread's callstack";
    unsigned checked = 0;
    for (const Db& db : dbsOfThisWidth()) {
        SCOPED_TRACE(db.name);
        const Outcome out = analyze(db);
        ASSERT_FALSE(out.detail.empty()) << out.report.substr(0, 400);
        std::printf("  %-32s %s\n", db.name.c_str(), out.detail.c_str());
        const auto core = corekit::CoreFile::load((kData / db.name / "db" / "PROCESS_COREDUMP").string());
        ASSERT_TRUE(core);
        const auto sigInfo = core->sigInfo();
        if (db.crash == "null-write" || db.crash == "in-handler" || db.crash == "recursion") {
            EXPECT_NE(out.detail.find("() write data(0x"), std::string::npos) << out.detail;
            EXPECT_EQ(out.detail.find("?" "?()"), std::string::npos) << out.detail;
            expectFaultAddress(out.detail, sigInfo);
        } else if (db.crash == "null-read") {
            EXPECT_NE(out.detail.find("() read data from illegal address(0x"), std::string::npos) << out.detail;
            expectFaultAddress(out.detail, sigInfo);
        } else if (db.crash == "bad-call") {
            const bool named = out.detail.find("() calling incorrect function pointer cause program execute at illegal "
                                               "address(0x") != std::string::npos;
            const bool unnamed = out.detail.rfind("Jump to illegal address(0x", 0) == 0;
            EXPECT_TRUE(named || unnamed) << out.detail;
            expectFaultAddress(out.detail, sigInfo);
        } else if (db.crash == "undefined") {
            EXPECT_EQ(out.detail, "4:Illegal instruction") << out.detail;
        } else if (db.crash == "abort") {
            EXPECT_EQ(out.detail, "Program called abort()") << out.detail;
        } else {
            ADD_FAILURE() << "unknown crash kind " << db.crash;
        }
        if (out.detail.find("address(") != std::string::npos) {
            EXPECT_TRUE(out.detail.ends_with(please)) << out.detail;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 7u);
}

TEST_F(QemuCrashes, SignalFromAnotherProcessNamesTheSender) {
    const Db db{kIs64 ? "arm64-static-abort" : "arm-static-thumb-exidx-abort", "abort", true};
    const std::string tid = crashedTid(db);
    ASSERT_FALSE(tid.empty());
    const std::string log = "<6>[ 5821.300001] (0)[1:init]init: starting service 'crashfix'\n"
                            "<6>[ 5821.302457] (1)[1406:system_server]sig 6 to [" + tid + ":crashfix] result=0\n"
                            "<6>[ 5821.302460] (1)[" + tid + ":crashfix]crashfix: exiting\n";
    EXPECT_EQ(analyze(db, log).detail, "system_server (1406) send sig 6 to current process and cause crashed");
}

TEST_F(QemuCrashes, NullWriteListingShowsTheSliceToTheStore) {
    const Db db{kIs64 ? "arm64-static-nullwrite" : "arm-static-arm-nullwrite", "null-write", true};
    const Outcome out = analyze(db);
    const std::string report = out.report;
    const auto title = report.find("   assembly inst.:\n\tline  addr");
    ASSERT_NE(title, std::string::npos) << report.substr(0, 1200);
    const std::string block = report.substr(title, report.find("current register values", title) - title);
    if (std::getenv("FERROVANE_PRINT_LISTING")) std::printf("%s\n", report.substr(title).c_str());
    EXPECT_NE(block.find("\t; thread stop here"), std::string::npos) << block;
    EXPECT_NE(block.find("STR"), std::string::npos) << block;
    EXPECT_NE(block.find("crash_lib.cpp"), std::string::npos) << block;
    EXPECT_EQ(block.find("execute error"), std::string::npos) << block;
    EXPECT_NE(report.find("\n\tcurrent register values:\n\t"), std::string::npos);
}

// The analyzer's own backtrace and symbols lead to the verdict gdb's frames lead to, and on the
// static programs to the same instruction listing.
TEST_F(QemuCrashes, OwnBacktraceGivesTheVerdictAndListingOfGdbsFrames) {
    unsigned compared = 0;
    for (const Db& db : dbsOfThisWidth()) {
        SCOPED_TRACE(db.name);
        const Outcome gdb = analyze(db), own = analyze(db, {}, Frames::Own);
        EXPECT_EQ(own.detail, gdb.detail);
        if (db.isStatic) {
            EXPECT_EQ(listingOf(own.report), listingOf(gdb.report));
        }
        ++compared;
    }
    EXPECT_EQ(compared, 7u);
}

}  // namespace

// Whole analyzer runs on the qemu-made dbs with every unwind table taken away: in a copy of each
// db the symbol files lose their `.eh_frame`, `.eh_frame_hdr`, `.debug_frame` and `.ARM.exidx`
// sections, and the program headers that point at the tables (PT_GNU_EH_FRAME, PT_ARM_EXIDX)
// become empty entries in the files and in the core's copy of them. The call stacks must still
// be gdb's, which unwinds the original files with their tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/driver/report_text.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/unwind/qemu_dbs.h"
#include "tools/fixturekit/backtrace_compare.h"

namespace {

namespace fs = std::filesystem;
using namespace fixturekit;
using testsupport::readFile;
using Bytes = std::string;

const fs::path kData(FERROVANE_TEST_DATA_DIR);
constexpr std::size_t kFrameLimit = 200;

template <typename T>
T get(const Bytes& bytes, std::size_t at) {
    T value{};
    if (at + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + at, sizeof(T));
    return value;
}
template <typename T>
void put(Bytes& bytes, std::size_t at, T value) {
    if (at + sizeof(T) <= bytes.size()) std::memcpy(bytes.data() + at, &value, sizeof(T));
}

// Takes the unwind tables out of an ELF file of this build's class, in place. Returns the
// program header table before and after, for patching the core's copy of it; empty when the file
// is not ELF of this class.
std::pair<Bytes, Bytes> removeUnwindTables(Bytes& elf) {
    const bool wide = kIs64;
    if (elf.compare(0, 4, "\x7F" "ELF") != 0 || elf.size() < 64 || elf[4] != (wide ? 2 : 1)) return {};
    const std::uint64_t phoff = wide ? get<std::uint64_t>(elf, 32) : get<std::uint32_t>(elf, 28);
    const std::uint64_t shoff = wide ? get<std::uint64_t>(elf, 40) : get<std::uint32_t>(elf, 32);
    const unsigned phentsize = get<std::uint16_t>(elf, wide ? 54 : 42), phnum = get<std::uint16_t>(elf, wide ? 56 : 44);
    const unsigned shentsize = get<std::uint16_t>(elf, wide ? 58 : 46), shnum = get<std::uint16_t>(elf, wide ? 60 : 48);
    const unsigned shstrndx = get<std::uint16_t>(elf, wide ? 62 : 50);
    if (phoff + std::uint64_t{phentsize} * phnum > elf.size() || shoff + std::uint64_t{shentsize} * shnum > elf.size())
        return {};

    const Bytes before = elf.substr(phoff, std::size_t{phentsize} * phnum);
    for (unsigned i = 0; i < phnum; ++i) {
        const std::size_t at = phoff + std::size_t{i} * phentsize;
        const std::uint32_t type = get<std::uint32_t>(elf, at);
        if (type == 0x6474E550u || type == 0x70000001u) put<std::uint32_t>(elf, at, 0);  // PT_NULL
    }
    // Sections are renamed (".eh_frame" -> "Xeh_frame"): no reader finds them by name any more.
    const std::size_t names = wide ? get<std::uint64_t>(elf, shoff + std::size_t{shstrndx} * shentsize + 24)
                                   : get<std::uint32_t>(elf, shoff + std::size_t{shstrndx} * shentsize + 16);
    for (unsigned i = 0; i < shnum; ++i) {
        const std::size_t name = names + get<std::uint32_t>(elf, shoff + std::size_t{i} * shentsize);
        if (name >= elf.size()) continue;
        const std::string section(elf.c_str() + name);
        if (section == ".eh_frame" || section == ".eh_frame_hdr" || section == ".debug_frame" || section == ".ARM.exidx")
            elf[name] = 'X';
    }
    return {before, elf.substr(phoff, before.size())};
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Copies `db` into `folder` without unwind tables; the number of symbol files changed.
int copyWithoutTables(const fs::path& db, const fs::path& folder) {
    fs::copy(db, folder, fs::copy_options::recursive);
    Bytes core = readFile(folder / "PROCESS_COREDUMP");
    int changed = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder / "symbols")) {
        if (!entry.is_regular_file()) continue;
        Bytes file = readFile(entry.path());
        const auto [before, after] = removeUnwindTables(file);
        if (before.empty()) continue;
        writeFile(entry.path(), file);
        ++changed;
        for (std::size_t at = core.find(before); at != Bytes::npos; at = core.find(before, at + before.size()))
            core.replace(at, after.size(), after);
    }
    writeFile(folder / "PROCESS_COREDUMP", core);
    return changed;
}

using testsupport::QemuDb;

// The analyzer's report of the db in `folder` (run in place).
std::string analyze(const fs::path& folder) {
    testsupport::WorkingFolder cwd(folder);
    testsupport::RunCapture run;
    run.run({"-ext", "387"});
    return drivertest::readReport(folder / "AnalysisReport.txt");
}

// The thread section of a report.
std::string threadSection(const std::string& report) {
    const std::size_t begin = report.find("== Thread info");
    return begin == std::string::npos ? std::string() : report.substr(begin);
}

TEST(TablelessBacktrace, QemuDbsWithoutUnwindTablesAgreeWithGdb) {
    if (!fs::exists(kData / "manifest.tsv")) GTEST_SKIP() << "no unpacked test data in " << kData;
    for (const QemuDb& db : testsupport::completedQemuDbs()) {
        testsupport::TempFolder folder;
        ASSERT_GE(copyWithoutTables(kData / db.name / "db", folder.path()), 1) << db.name;
        const std::string report = analyze(folder.path());
        std::vector<TextThread> ours = parseReportThreads(report);
        std::vector<TextThread> gdb = parseGdbBacktrace(readFile(kData / db.name / "expected/gdb-bt.txt"));
        if (ours.size() != gdb.size()) {
            // The C library's code is not in the dynamic dbs: walks that end in it alike are
            // grouped by the thread report. Then the stacks must be those of the db with its
            // tables.
            testsupport::TempFolder original;
            fs::copy(kData / db.name / "db", original.path(), fs::copy_options::recursive);
            EXPECT_EQ(threadSection(report), threadSection(analyze(original.path()))) << db.name;
            std::printf("  %-36s threads grouped; the stacks are those with the tables\n", db.name.c_str());
            continue;
        }
        for (TextThread& thread : gdb) {
            if (thread.frames.size() > kFrameLimit) thread.frames.resize(kFrameLimit);
        }
        CompareOptions options;
        options.modules = db.modules;
        options.symbolsFolder = (kData / db.name / "db/symbols").string();
        const CompareResult result = compareBacktraces(ours, gdb, true, options);
        EXPECT_EQ(result.agree, result.total) << db.name << "\n" << result.text;
        EXPECT_GE(result.total, 8) << db.name;
        std::printf("  %-36s %3d/%d frames agree with gdb without unwind tables\n", db.name.c_str(), result.agree,
                    result.total);
    }
}

}  // namespace

// Cores written by real kernels and debuggers of other projects, compared with what elfutils and
// gdb read from the same files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/process/core_notes.h"
#include "analyzer/symbols/elf_image.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using coresift::RegisterSet;
using testsupport::RunCapture;
using testsupport::TempFolder;
using testsupport::WorkingFolder;

// Unpacked elfutils cores (the build unpacks them when the shared fixtures are present).
fs::path unpackedCore(const std::string& name) { return fs::path(FERROVANE_TEST_DATA_DIR) / "elfutils" / name; }
fs::path shared(const std::string& relative) { return fs::path(FERROVANE_SHARED_DIR) / relative; }

#define REQUIRE_FILE(path)                                                                \
    do {                                                                                  \
        if (!fs::exists(path)) GTEST_SKIP() << "fixture not present: " << (path).string(); \
    } while (0)

// A db folder holding `core` as its PROCESS_COREDUMP, made the working folder.
class RealCoreDb {
public:
    explicit RealCoreDb(const fs::path& core) : cwd_(db_.path()) {
        fs::copy_file(core, db_.path() / "PROCESS_COREDUMP");
        run_.context().catalog.selectEnglish();
    }
    RunCapture& run() { return run_; }
    bool load() { return coresift::loadCoreDump(run_.context()); }
    coresift::CoreDump& core() { return *run_.context().core; }
    coresift::AddressSpace& space() { return *run_.context().addressSpace; }
    const fs::path& path() const { return db_.path(); }

private:
    TempFolder db_;
    WorkingFolder cwd_;
    RunCapture run_;
};

// "name: value" pairs of the elfutils note dump ("x7:  -6341196323062964528", "sp:    0x7fc035c6a0");
// the first value of each name is kept.
std::map<std::string, std::uint64_t> parseRegisters(const std::string& text) {
    static const char* const kNames[] = {"sp", "pc", "pstate", "pid", "ppid", "tls", "cursig"};
    std::map<std::string, std::uint64_t> values;
    for (std::size_t at = text.find(':'); at != std::string::npos; at = text.find(':', at + 1)) {
        std::size_t begin = at;
        while (begin > 0 && std::isalnum(static_cast<unsigned char>(text[begin - 1]))) --begin;
        if (begin > 0 && !std::isspace(static_cast<unsigned char>(text[begin - 1]))) continue;
        std::string name = text.substr(begin, at - begin);
        bool wanted = name.size() >= 2 && name[0] == 'x' && std::isdigit(static_cast<unsigned char>(name[1]));
        for (const char* known : kNames) wanted = wanted || name == known;
        if (!wanted || values.count(name)) continue;
        std::istringstream number(text.substr(at + 1, 40));
        std::string word;
        number >> word;
        if (!word.empty() && word.back() == ',') word.pop_back();
        if (word.empty()) continue;
        values[name] = word.rfind("0x", 0) == 0 ? std::stoull(word, nullptr, 16)
                                                : static_cast<std::uint64_t>(std::stoll(word));
    }
    return values;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned compareRegisters(const std::map<std::string, std::uint64_t>& expected, const RegisterSet& regs) {
    unsigned compared = 0;
    for (unsigned i = 0; i < 31; ++i) {
        auto it = expected.find("x" + std::to_string(i));
        if (it == expected.end()) continue;
        EXPECT_EQ(regs.r[i], it->second) << "x" << i;
        ++compared;
    }
    for (auto [name, index] : {std::pair<const char*, unsigned>{"sp", RegisterSet::kSp}, {"pc", RegisterSet::kPc}}) {
        auto it = expected.find(name);
        if (it == expected.end()) continue;
        EXPECT_EQ(regs.r[index], it->second) << name;
        ++compared;
    }
    return compared;
}

TEST(RealCores, ElfutilsAarch64CoreAgreesWithTheElfutilsNoteDump) {
    fs::path core = unpackedCore("testfile_aarch64_core");
    fs::path oracle = shared("fixtures/elfutils/oracles/run-readelf-mixed-corenote.sh.expected.txt");
    REQUIRE_FILE(core);
    REQUIRE_FILE(oracle);
    RealCoreDb db(core);
    if (!kIs64) {
        EXPECT_FALSE(db.load());
        EXPECT_EQ(db.run().err(), "Error: 'PROCESS_COREDUMP' isn't 32bit ELF file\n");
        EXPECT_EQ(db.run().out(), "Loading PROCESS_COREDUMP ...\nError when parsing coredump\n");
        return;
    }
    ASSERT_TRUE(db.load()) << db.run().out() << db.run().err();
    EXPECT_EQ(db.run().err(), "");

    // The first block of the oracle is this core's note dump, up to the next command.
    std::string text = readText(oracle);
    std::size_t first = text.find("testrun_compare");
    text = text.substr(first, text.find("testrun_compare", first + 1) - first);
    auto expected = parseRegisters(text);
    ASSERT_EQ(expected.count("x30"), 1u);
    const coresift::CoreDump& c = db.core();
    EXPECT_EQ(c.threadCount, 1u);
    EXPECT_EQ(c.pid, expected["pid"]);
    EXPECT_EQ(c.ppid, expected["ppid"]);
    EXPECT_EQ(c.signal, 11u);
    EXPECT_EQ(c.signalCode, 1u);
    EXPECT_EQ(c.faultAddress, 0x12345678u);
    const RegisterSet& regs = c.firstThread->registers;
    EXPECT_EQ(compareRegisters(expected, regs), 33u);
    EXPECT_EQ(regs.status(), expected["pstate"] | 0x100);
    EXPECT_EQ(c.firstThread->tls, expected["tls"]);
    EXPECT_TRUE(c.firstThread->isMain());
    EXPECT_EQ(c.pageSize, 65536u);
    EXPECT_EQ(c.interpreterBase, 0x7fb7520000u);
    EXPECT_EQ(c.entryPoint, 0x4003e0u);
    EXPECT_EQ(c.commandLine, "./a.out");
    EXPECT_EQ(c.executablePath, "./a.out");
    auto nameAt = [&](std::uint64_t address) { return db.space().regionAt(static_cast<TargetWord>(address))->name; };
    EXPECT_EQ(nameAt(0x400000), "/root/elfutils/build/a.out");
    EXPECT_EQ(nameAt(0x7fb74d0000), "/usr/lib64/libc-2.17.so");
    EXPECT_EQ(nameAt(0x7fb7540000), "/usr/lib64/ld-2.17.so");
    EXPECT_EQ(nameAt(0x7fc035c9e8), "[stack]");
    EXPECT_EQ(db.space().regionCount(), 9u);
}

TEST(RealCores, ElfutilsAarch64CoreRunsThroughTheProgram) {
    fs::path core = unpackedCore("testfile_aarch64_core");
    REQUIRE_FILE(core);
    RealCoreDb db(core);
    int status = db.run().run({"-ext", "259"});
    if (kIs64) {
        EXPECT_EQ(status, 0);
        EXPECT_NE(db.run().out().find("Analysis is completed\n"), std::string::npos) << db.run().out();
    } else {
        EXPECT_EQ(status, 1);
        EXPECT_NE(db.run().err().find("isn't 32bit ELF file"), std::string::npos);
        EXPECT_NE(db.run().out().find("Error when parsing coredump\n"), std::string::npos);
    }
}

// gdb's register listing of every thread: "Thread N (LWP tid):" followed by "name value ..." lines
// (the backtraces use the same heading, followed by frames instead).
std::map<std::uint32_t, std::map<std::string, std::uint64_t>> gdbThreads(const std::string& text) {
    std::map<std::uint32_t, std::map<std::string, std::uint64_t>> threads;
    std::istringstream lines(text);
    std::string line;
    std::uint32_t tid = 0;
    while (std::getline(lines, line)) {
        unsigned long lwp = 0;
        if (std::sscanf(line.c_str(), "Thread %*u (LWP %lu):", &lwp) == 1) {
            tid = static_cast<std::uint32_t>(lwp);
            continue;
        }
        char name[16];
        unsigned long long value = 0;
        if (tid && std::sscanf(line.c_str(), "%15s 0x%llx", name, &value) == 2) {
            std::string n = name;
            if (n == "sp" || n == "pc" || n == "cpsr" || n == "tpidr" || (n[0] == 'x' && n.size() <= 3))
                threads[tid][n] = value;
        } else if (line.empty() || line[0] == '#') {
            tid = 0;
        }
    }
    return threads;
}

TEST(RealCores, ElfutilsBacktraceCoresAgreeWithGdb) {
    if (!kIs64) GTEST_SKIP() << "AArch64 cores";
    for (std::string name : {"backtrace.aarch64", "backtrace.aarch64.fp"}) {
        fs::path core = unpackedCore(name + ".core");
        fs::path oracle = shared("fixtures/elfutils/derived/" + name + ".gdb-multiarch-13.1.txt");
        REQUIRE_FILE(core);
        REQUIRE_FILE(oracle);
        RealCoreDb db(core);
        ASSERT_TRUE(db.load()) << db.run().err();
        std::string text = readText(oracle);
        auto threads = gdbThreads(text);
        ASSERT_EQ(threads.size(), 2u) << name;
        std::size_t current = text.find("[Current thread is 1 (LWP ");
        ASSERT_NE(current, std::string::npos);
        unsigned long signalled = std::stoul(text.substr(current + 26));
        const coresift::CoreDump& c = db.core();
        EXPECT_EQ(c.threadCount, 2u);
        EXPECT_EQ(c.signal, 6u);
        EXPECT_EQ(c.firstThread->tid, signalled) << "the thread that raised the signal";
        for (auto& [tid, expected] : threads) {
            coresift::ThreadRecord* thread = c.threads.find(tid);
            ASSERT_NE(thread, nullptr) << tid;
            EXPECT_EQ(compareRegisters(expected, thread->registers), 33u) << name << " " << tid;
            EXPECT_EQ(thread->registers.status(), expected["cpsr"] | 0x100);
            EXPECT_EQ(thread->tls, expected["tpidr"]);
        }
        EXPECT_EQ(c.threads.find(c.pid)->flags, coresift::thread_flag::kMain) << "the thread whose tid is the pid";
        // The executable's code mapping was dumped as its first page only.
        auto magic = db.space().read<std::uint32_t>(0x400000);
        ASSERT_TRUE(magic);
        EXPECT_EQ(*magic, 0x464c457fu);
        EXPECT_FALSE(db.space().read<std::uint32_t>(0x401000).has_value()) << "not the next segment's bytes";
        coresift::MapEntry* rest = db.space().regionAt(0x401000);
        ASSERT_NE(rest, nullptr);
        EXPECT_EQ(rest->start, 0x401000u);
        EXPECT_TRUE(rest->fromProvider());
    }
}

TEST(RealCores, LldbArmCoreHasRegistersButNoAuxiliaryVector) {
    fs::path core = shared("fixtures/lldb-elfcore/linux-arm.core");
    REQUIRE_FILE(core);
    RealCoreDb db(core);
    if (kIs64) {
        EXPECT_FALSE(db.load());
        EXPECT_EQ(db.run().err(), "Error: 'PROCESS_COREDUMP' isn't 64bit ELF file\n");
        return;
    }
    EXPECT_FALSE(db.load());
    EXPECT_EQ(db.run().out(), "Loading PROCESS_COREDUMP ...\nError when parsing coredump\n");
    EXPECT_EQ(db.run().err(), "") << "refused for its missing NT_AUXV alone";

    // Its registers, read through the note handler.
    auto file = coresift::MappedFile::open(core.string());
    ASSERT_TRUE(file);
    coresift::Console& console = db.run().context().console;
    auto image = coresift::ElfImage::open(console, file, coresift::elf::kCoreTypes);
    ASSERT_TRUE(image);
    coresift::CoreDump dump;
    coresift::AddressSpace space(console, "PROCESS_COREDUMP", file->bytes(), file, 32, 12);
    coresift::NoteWalk walk{console, dump, space};
    image->forEachNote(console, [&](const coresift::Note& note) {
        return coresift::handleCoreNote(walk, note.type, note.desc) ? 0 : 1;
    });
    ASSERT_EQ(dump.threadCount, 1u);
    const RegisterSet& regs = dump.firstThread->registers;
    for (unsigned i = 0; i <= 12; ++i) EXPECT_EQ(regs.r[i], i) << "r" << i;
    EXPECT_EQ(regs.sp(), 0xdu);
    EXPECT_EQ(regs.lr(), 0xeu);
    EXPECT_EQ(regs.pc(), 0xfu);
    EXPECT_EQ(regs.status(), 0x10u) << "cpsr 0x10, mode bit forced on";
}

// The exception dbs made from real crashes under qemu-user: each loads in the analyzer of its
// width, with the threads, signal, first thread and command line gdb shows for the same core.
TEST(RealCores, QemuDbsAgreeWithGdb) {
    fs::path data(FERROVANE_TEST_DATA_DIR);
    REQUIRE_FILE(data / "manifest.tsv");
    std::istringstream manifest(readText(data / "manifest.tsv"));
    std::string line;
    unsigned checked = 0;
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("name\t", 0) == 0) continue;
        std::vector<std::string> field;
        std::istringstream columns(line);
        for (std::string column; std::getline(columns, column, '\t');) field.push_back(column);
        ASSERT_GE(field.size(), 8u) << line;
        const std::string& name = field[0];
        if ((field[1] == "arm64") != kIs64) continue;
        SCOPED_TRACE(name);
        std::string gdb = readText(data / name / "expected" / "gdb-bt.txt");
        RealCoreDb db(data / name / "db" / "PROCESS_COREDUMP");
        ASSERT_TRUE(db.load()) << db.run().out() << db.run().err();
        const coresift::CoreDump& c = db.core();

        std::map<std::string, std::uint32_t> signals{{"SIGSEGV", 11}, {"SIGABRT", 6}, {"SIGILL", 4}};
        EXPECT_EQ(c.signal, signals.at(field[6]));
        EXPECT_EQ(c.threadCount, std::stoul(field[7]));
        for (std::size_t at = gdb.find("[New LWP "); at != std::string::npos; at = gdb.find("[New LWP ", at + 1))
            EXPECT_NE(c.threads.find(static_cast<std::uint32_t>(std::stoul(gdb.substr(at + 9)))), nullptr);
        std::size_t current = gdb.find("(LWP ", gdb.find("[Current thread is 1"));
        ASSERT_NE(current, std::string::npos);
        EXPECT_EQ(c.firstThread->tid, std::stoul(gdb.substr(current + 5)));
        EXPECT_TRUE(c.firstThread->isMain());

        // gdb prints the pc of frame 0 without the Thumb bit.
        std::size_t frame0 = gdb.find("#0  0x");
        ASSERT_NE(frame0, std::string::npos);
        std::uint64_t pc = std::stoull(gdb.substr(frame0 + 4), nullptr, 16);
        TargetWord thumb = field[2] == "thumb" ? 1 : 0;
        EXPECT_EQ(c.firstThread->registers.pc(), static_cast<TargetWord>(pc) | thumb);

        std::size_t generated = gdb.find("Core was generated by `");
        ASSERT_NE(generated, std::string::npos);
        std::string command = gdb.substr(generated + 23, gdb.find("'.", generated) - generated - 23);
        EXPECT_EQ(c.commandLine, command);
        if (field[8] == "completed") {
            EXPECT_EQ(c.executablePath, "/system/bin/crashfix");
        }
        ++checked;
    }
    EXPECT_GE(checked, 7u);
}

}  // namespace

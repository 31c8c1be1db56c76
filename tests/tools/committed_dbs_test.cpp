// The committed qemu-made exception dbs, as the build unpacks them: every db of the manifest is
// there, holds what a device db holds, and its core agrees with its own symbol files, maps and
// process table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/corekit/core_reader.h"
#include "tools/corekit/elf_constants.h"
#include "tools/corekit/elf_file.h"

namespace {

namespace fs = std::filesystem;
using namespace corekit;

const fs::path kData = FERROVANE_TEST_DATA_DIR;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::map<std::string, std::string>> manifest() {
    std::vector<std::map<std::string, std::string>> rows;
    std::istringstream in(slurp(kData / "manifest.tsv"));
    std::vector<std::string> columns;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
        if (columns.empty()) {
            columns = fields;
            continue;
        }
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < columns.size() && i < fields.size(); ++i) row[columns[i]] = fields[i];
        rows.push_back(row);
    }
    return rows;
}

class CommittedDbs : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kData / "manifest.tsv")) GTEST_SKIP() << "no unpacked test data in " << kData;
        rows_ = manifest();
        ASSERT_GE(rows_.size(), 10u);
    }
    std::vector<std::map<std::string, std::string>> rows_;
};

TEST_F(CommittedDbs, EveryDbIsUnpackedWithItsFilesAndOneSample) {
    int samples = 0;
    for (auto& row : rows_) {
        const fs::path top = kData / row["name"];
        SCOPED_TRACE(row["name"]);
        for (const char* file : {"db/PROCESS_COREDUMP", "db/PROCESS_MAPS", "db/SYS_PROCESSES_AND_THREADS",
                                 "db/ZZ_INTERNAL", "db/SYS_PROPERTIES", "db/symbols/system/bin/crashfix",
                                 "expected/gdb-bt.txt"})
            EXPECT_TRUE(fs::is_regular_file(top / file)) << file;
        if (row["link"] != "static") {
            const char* lib = row["arch"] == "arm64" ? "db/symbols/system/lib64/libcrashfix.so" : "db/symbols/system/lib/libcrashfix.so";
            EXPECT_TRUE(fs::is_regular_file(top / lib));
        }
        if (row["sample"] == "yes") {
            ++samples;
            EXPECT_EQ(row["arch"], "arm64");
            EXPECT_EQ(row["link"], "static");
            EXPECT_EQ(row["crash"], "null-write");
        }
        const std::string props = slurp(top / "db/SYS_PROPERTIES");
        EXPECT_NE(props.find("[ro.build.type]: ["), std::string::npos);
        EXPECT_NE(props.find("[ro.build.fingerprint]: ["), std::string::npos);
    }
    EXPECT_EQ(samples, 1);
}

TEST_F(CommittedDbs, CoresMatchTheirSymbolFilesMapsAndThreadTables) {
    for (auto& row : rows_) {
        SCOPED_TRACE(row["name"]);
        const fs::path db = kData / row["name"] / "db";
        std::string error;
        auto core = CoreFile::load((db / "PROCESS_COREDUMP").string(), &error);
        ASSERT_TRUE(core) << error;
        EXPECT_EQ(core->arch(), row["arch"] == "arm64" ? CoreArch::Arm64 : CoreArch::Arm32);
        auto threads = core->threads();
        ASSERT_EQ(std::to_string(threads.size()), row["threads"]);
        const bool is64 = core->arch() == CoreArch::Arm64;
        const std::uint64_t pc = threads[0].regs[is64 ? 32 : 15];

        // Every tid of the core has its row, and gdb saw the same threads.
        const std::string table = slurp(db / "SYS_PROCESSES_AND_THREADS");
        const std::string gdb = slurp(db.parent_path() / "expected/gdb-bt.txt");
        EXPECT_EQ(table.rfind("USER ", 0), 0u);
        for (const auto& t : threads) {
            EXPECT_NE(table.find(" " + std::to_string(t.pid) + " "), std::string::npos) << t.pid;
            EXPECT_NE(gdb.find("LWP " + std::to_string(t.pid) + ")"), std::string::npos) << t.pid;
        }
        EXPECT_NE(slurp(db / "PROCESS_MAPS").find("/system/bin/crashfix\n"), std::string::npos);

        if (row["core"] == "raw") {
            // The qemu core as written: no file list, no signal record, no code bytes.
            EXPECT_FALSE(core->fileNote());
            EXPECT_FALSE(core->sigInfo());
            EXPECT_FALSE(core->read(pc & ~std::uint64_t{1}, 4));
            continue;
        }
        auto files = core->fileNote();
        auto signal = core->sigInfo();
        ASSERT_TRUE(files);
        ASSERT_TRUE(signal);
        EXPECT_EQ(signal->signo, threads[0].cursig);
        EXPECT_EQ(core->readString(*auxvValue(*core->auxv(), elf::AT_EXECFN)), "/system/bin/crashfix");
        EXPECT_EQ(core->processInfo()->psargs.rfind("/system/bin/crashfix " + row["crash"], 0), 0u);

        // The code at the crashing pc is in the core, byte for byte the symbol file's. A bad call
        // crashes at an address that is nowhere; its caller's return address is checked instead.
        const std::uint64_t lr = threads[0].regs[is64 ? 30 : 14] & ~std::uint64_t{1};
        const std::uint64_t code = (row["crash"] == "bad-call" ? lr : pc) & ~std::uint64_t{1};
        const FileMapping* mapping = nullptr;
        for (const auto& m : files->mappings)
            if (code >= m.start && code < m.end) mapping = &m;
        ASSERT_TRUE(mapping) << std::hex << code;
        auto symbolFile = ElfFile::load((db / "symbols" / fs::path(mapping->path).relative_path()).string());
        ASSERT_TRUE(symbolFile) << mapping->path;
        const std::uint64_t offset = mapping->pageOffset * files->pageSize + (code - mapping->start);
        auto dumped = core->read(code, 8);
        ASSERT_TRUE(dumped);
        ASSERT_LE(offset + 8, symbolFile->data().size());
        EXPECT_TRUE(std::equal(dumped->begin(), dumped->end(), symbolFile->data().begin() + static_cast<std::ptrdiff_t>(offset)));
    }
}

}  // namespace

// Classifying db folders: which evidence wins, and captures that are short, odd or hostile.
#include <gtest/gtest.h>

#include <filesystem>

#include "dispatcher/classify.h"
#include "tests/support/temp_folder.h"

namespace {

using dispatcher::DbKind;
using testsupport::TempFolder;
using testsupport::WorkingFolder;

const std::string kElf32 = std::string("\x7F" "ELF\x01\x01\x01\0\0\0\0\0\0\0\0\0", 16) + "rest";
const std::string kElf64 = std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0", 16) + "rest";

DbKind classify(const std::vector<std::pair<std::string, std::string>>& files) {
    TempFolder db;
    for (const auto& [name, contents] : files) db.write(name, contents);
    WorkingFolder inside(db.path());
    return dispatcher::classifyFolder();
}

TEST(Classify, ProcessDumpsComeFirstAndTheFirstElfOneDecides) {
    EXPECT_EQ(classify({{"PROCESS_COREDUMP", kElf32}, {"SYS_COREDUMP", kElf64}}), DbKind::CoreSift);
    EXPECT_EQ(classify({{"PROCESS_COREDUMP", kElf64}}), DbKind::CoreSift64);
    EXPECT_EQ(classify({{"PROCESS_MINIDUMP", kElf32}, {"PROCESS_NCOREDUMP", kElf64}}), DbKind::CoreSift);
    // A coredump that is not ELF does not decide; the next file is probed.
    EXPECT_EQ(classify({{"PROCESS_COREDUMP", "not an elf file at all"}, {"PROCESS_NCOREDUMP", kElf64}}),
              DbKind::CoreSift64);
    EXPECT_EQ(classify({{"PROCESS_COREDUMP", kElf32.substr(0, 15)}, {"SYS_MINI_RDUMP", kElf64}}), DbKind::KernSift64);
}

TEST(Classify, KernelDumpsDecideNext) {
    EXPECT_EQ(classify({{"SYS_MINI_RDUMP", kElf32}, {"SYS_COREDUMP", kElf64}}), DbKind::KernSift);
    EXPECT_EQ(classify({{"SYS_COREDUMP", kElf64}, {"ZZ_INTERNAL", "Native (NE)"}}), DbKind::KernSift64);
    // Any class other than 2 counts as 32-bit.
    std::string odd = kElf32;
    odd[4] = 7;
    EXPECT_EQ(classify({{"SYS_COREDUMP", odd}}), DbKind::KernSift);
}

TEST(Classify, FramePointerWidthInTheCpuBusCapture) {
    EXPECT_EQ(classify({{"SYS_LAST_CPU_BUS", "cpu0: PC = 0xc0123456, FP = 0xc0ffee00\n"}}), DbKind::KernSift);
    EXPECT_EQ(classify({{"SYS_LAST_CPU_BUS", "cpu0: PC = 0x1, FP = 0xffffffc012345678\n"}}), DbKind::KernSift64);
    // The capture ends right after eight digits: only what was read is looked at.
    EXPECT_EQ(classify({{"SYS_LAST_CPU_BUS", "x, FP = 0x12345678"}}), DbKind::KernSift);
    // The mark must lie within the first 1023 bytes.
    EXPECT_EQ(classify({{"SYS_LAST_CPU_BUS", std::string(1020, ' ') + ", FP = 0xffffffc012345678"},
                        {"SYS_KERNEL_LOG", "k"}}),
              DbKind::KernSift);
    EXPECT_EQ(classify({{"SYS_LAST_CPU_BUS", std::string(1000, ' ') + ", FP = 0xffffffc012345678"}}),
              DbKind::KernSift64);
    // Without the mark the next rules decide.
    EXPECT_EQ(classify({{"SYS_LAST_CPU_BUS", "nothing here"}, {"ZZ_INTERNAL", "Native (NE)"}}), DbKind::CoreSift64);
}

TEST(Classify, ExceptionTypeInTheInternalRecord) {
    EXPECT_EQ(classify({{"ZZ_INTERNAL", "Native (NE),0,1,99\nmore"}}), DbKind::CoreSift64);
    for (const char* type : {"Kernel (KE)", "HWT", "Hardware Reboot", "OCP_reboot,1"})
        EXPECT_EQ(classify({{"ZZ_INTERNAL", type}}), DbKind::KernSift64) << type;
    EXPECT_EQ(classify({{"ZZ_INTERNAL", "Java (JE),0"}, {"SYS_LAST_KMSG", "k"}}), DbKind::NotAnExceptionDb);
    EXPECT_EQ(classify({{"ZZ_INTERNAL", ""}}), DbKind::NotAnExceptionDb);
    EXPECT_EQ(classify({{"ZZ_INTERNAL", std::string("Native\0(NE)", 11)}}), DbKind::NotAnExceptionDb);
}

TEST(Classify, LogsDecideWithoutTheInternalRecord) {
    EXPECT_EQ(classify({{"SYS_LAST_KMSG", ""}, {"_exp_detail.txt", ""}}), DbKind::KernSift);
    EXPECT_EQ(classify({{"_exp_detail.txt", ""}, {"SYS_KERNEL_LOG", ""}}), DbKind::CoreSift);
    EXPECT_EQ(classify({{"SYS_KERNEL_LOG", ""}}), DbKind::KernSift);
    EXPECT_EQ(classify({{"SYS_ANDROID_LOG", "x"}}), DbKind::NoExceptionInfo);
    EXPECT_EQ(classify({}), DbKind::NoExceptionInfo);
}

TEST(Classify, ProbingAFile) {
    TempFolder db;
    db.write("e64", kElf64);
    db.write("e32", kElf32);
    db.write("short", kElf64.substr(0, 15));
    db.write("text", "hello, this is plain text");
    std::filesystem::create_directory(db.path() / "folder");
    WorkingFolder inside(db.path());
    EXPECT_EQ(dispatcher::probeElf("e64"), dispatcher::ElfProbe::Elf64);
    EXPECT_EQ(dispatcher::probeElf("e32"), dispatcher::ElfProbe::Elf32);
    EXPECT_EQ(dispatcher::probeElf("short"), dispatcher::ElfProbe::NotElf);
    EXPECT_EQ(dispatcher::probeElf("text"), dispatcher::ElfProbe::NotElf);
    EXPECT_EQ(dispatcher::probeElf("folder"), dispatcher::ElfProbe::NotElf);
    EXPECT_EQ(dispatcher::probeElf("missing"), dispatcher::ElfProbe::Absent);
    EXPECT_STREQ(dispatcher::analyzerName(DbKind::KernSift64), "KernSift64");
    EXPECT_EQ(dispatcher::analyzerName(DbKind::NotAnExceptionDb), nullptr);
}

}  // namespace

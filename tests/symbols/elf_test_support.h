// Shared pieces of the ELF reader tests: a fixture run for both ELF classes with an English
// console whose output is captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "analyzer/symbols/elf_image.h"
#include "tests/support/run_capture.h"
#include "tests/symbols/elf_builder.h"

namespace testsupport {

class ElfClassTest : public testing::TestWithParam<coresift::ElfClass> {
protected:
    ElfClassTest() { run.context().catalog.selectEnglish(); }
    coresift::Console& console() { return run.context().console; }
    bool wide() const { return GetParam() == coresift::ElfClass::Elf64; }
    coresift::ElfClass otherClass() const { return wide() ? coresift::ElfClass::Elf32 : coresift::ElfClass::Elf64; }

    // Opens `bytes` as a file image named `path`.
    std::unique_ptr<coresift::ElfImage> open(const Bytes& bytes, unsigned types = coresift::elf::kSymbolFileTypes,
                                             const std::string& path = "lib/libfoo.so") {
        return coresift::ElfImage::open(console(), coresift::MappedFile::fromBuffer(path, bytes), types, GetParam());
    }
    std::unique_ptr<coresift::ElfImage> openMemory(const Bytes& bytes, const std::string& name = "[jit-cache]") {
        return coresift::ElfImage::openMemory(common::ByteView(bytes.data(), bytes.size()), name, GetParam());
    }

    RunCapture run;
};

inline std::string elfClassName(const testing::TestParamInfo<coresift::ElfClass>& param) {
    return param.param == coresift::ElfClass::Elf64 ? "Elf64" : "Elf32";
}

}  // namespace testsupport

// Instantiates a suite derived from ElfClassTest for ELF32 and ELF64.
#define FERROVANE_BOTH_ELF_CLASSES(Suite)                                                                   \
    INSTANTIATE_TEST_SUITE_P(BothClasses, Suite,                                                           \
                             testing::Values(coresift::ElfClass::Elf32, coresift::ElfClass::Elf64), \
                             testsupport::elfClassName)

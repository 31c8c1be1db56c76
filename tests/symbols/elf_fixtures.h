// The real ELF files the reader is checked against: the shared fixtures of other projects
// (unpacked once per test run into a scratch folder) and the files this project cross-compiles
// at test-build time.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "analyzer/symbols/elf_image.h"

namespace testsupport {

struct FixtureFile {
    std::string set;    // the fixture collection it belongs to
    std::string label;  // a short name for messages
    std::filesystem::path path;
};

// The shared fixtures folder; empty when it is absent.
std::filesystem::path sharedFixtures();
// The cross-compiled files of this project's test build; empty when they were not built.
std::filesystem::path ownElfFixtures();

// Every well-formed ELF file of `elfClass` and its machine (ARM or AArch64) in the fixture sets.
const std::vector<FixtureFile>& wellFormedElfFiles(coresift::ElfClass elfClass);
// The deliberately malformed shared objects of Android's C library tests, of `elfClass`.
std::vector<FixtureFile> malformedElfFiles(coresift::ElfClass elfClass);
// A scratch folder that lives as long as the test program.
const std::filesystem::path& scratchFolder();

// True when `path` starts like an ELF file of this class and machine.
bool isElfOf(const std::filesystem::path& path, coresift::ElfClass elfClass);

}  // namespace testsupport

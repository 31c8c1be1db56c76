// Android's offline unwind snapshots (../shared/fixtures/unwindstack-offline/cases): the maps,
// registers, stack bytes and libraries of one thread, loaded as target memory with one
// ModuleUnwinder per mapped library, and the pc/sp of each frame Android's unwinder asserts.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/symbols/elf_image.h"
#include "analyzer/unwind/module_unwinder.h"
#include "tests/unwind/unwind_support.h"

namespace testsupport {

struct ExpectedFrame {
    std::uint64_t pc = 0, sp = 0;
};

class OfflineCase {
public:
    // Loads case `name` (a folder of the cases directory); `console` reports ELF problems.
    OfflineCase(coresift::Console& console, const std::string& name);
    OfflineCase(const OfflineCase&) = delete;
    OfflineCase& operator=(const OfflineCase&) = delete;

    const std::string& name() const { return name_; }
    bool arm64() const { return arm64_; }
    // False when the folder is absent or of the other width.
    bool usable() const { return usable_; }
    const coresift::decode::RegisterState& registers() const { return registers_; }
    OwnedMemory& memory() { return memory_; }
    // The unwinder of the library mapped executable at `pc` (without authentication bits).
    coresift::unwind::ModuleUnwinder* moduleAt(TargetWord pc);
    std::string moduleNameAt(TargetWord pc) const;
    // Frames of EXPECTED_PC_SP.tsv for this case.
    const std::vector<ExpectedFrame>& expected() const { return expected_; }

    static std::filesystem::path casesFolder();

private:
    struct Module {
        std::string name;
        TargetWord start = 0, end = 0;  // the executable mapping
        std::unique_ptr<coresift::ElfImage> image, miniDebugInfo;
        std::unique_ptr<coresift::unwind::ModuleUnwinder> unwinder;
    };
    void readMaps(coresift::Console& console, const std::filesystem::path& folder);
    void readRegisters(const std::filesystem::path& file);
    void readStacks(const std::filesystem::path& folder);
    void readExpected();

    std::string name_;
    bool arm64_ = false, usable_ = false;
    OwnedMemory memory_;
    coresift::decode::RegisterState registers_;
    std::vector<std::unique_ptr<Module>> modules_;
    std::vector<ExpectedFrame> expected_;
};

}  // namespace testsupport

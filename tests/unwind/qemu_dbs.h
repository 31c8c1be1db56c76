// The qemu-made exception dbs as the unwinding tests read them: gdb's frames of each thread, the
// completed dbs of this build's width, and a statically linked program's core with its threads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analyzer/symbols/elf_image.h"
#include "tests/unwind/unwind_support.h"

namespace testsupport {

// gdb's frames of a thread: the pc of each physical frame (inline scopes share their frame's
// line; a frame 0 with line information shows no address: nothing to compare there).
using GdbFrames = std::vector<std::optional<std::uint64_t>>;

// gdb's threads of an expected/gdb-bt.txt by LWP.
std::map<std::uint32_t, GdbFrames> gdbThreadFrames(const std::filesystem::path& file);

struct QemuDb {
    std::string name;
    std::vector<std::string> modules;  // the modules whose frames compare with gdb's
};

// The dbs of test-data/manifest.tsv that were completed, of this build's width.
std::vector<QemuDb> completedQemuDbs();

// A static program's core (FOLDER/db/PROCESS_COREDUMP) with the program's segments where the
// core has no bytes, and each thread's registers from the core's status notes (Thumb state on
// the pc's bit 0).
class StaticQemuCore {
public:
    StaticQemuCore(coresift::Console& console, const std::filesystem::path& folder);
    bool usable() const { return program_ && !threads.empty(); }
    const coresift::ElfImage& program() const { return *program_; }

    OwnedMemory memory;
    std::pair<TargetWord, TargetWord> code;  // the program's executable segment
    std::vector<std::pair<std::uint32_t, coresift::decode::RegisterState>> threads;

private:
    std::unique_ptr<coresift::ElfImage> core_, program_;
};

}  // namespace testsupport

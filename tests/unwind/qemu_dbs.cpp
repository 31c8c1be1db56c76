#include "tests/unwind/qemu_dbs.h"

#include <fstream>
#include <sstream>

#include "tests/support/temp_folder.h"

namespace testsupport {

namespace fs = std::filesystem;

std::map<std::uint32_t, GdbFrames> gdbThreadFrames(const fs::path& file) {
    std::map<std::uint32_t, GdbFrames> threads;
    GdbFrames* current = nullptr;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Thread ", 0) == 0 && line.find("(LWP ") != std::string::npos) {
            current = &threads[static_cast<std::uint32_t>(std::stoul(line.substr(line.find("(LWP ") + 5)))];
            continue;
        }
        if (!current || line.rfind("#", 0) != 0) continue;
        const std::size_t space = line.find_first_not_of(' ', line.find(' '));
        const bool hasAddress = line.compare(space, 2, "0x") == 0;
        std::optional<std::uint64_t> pc;
        if (hasAddress) pc = std::stoull(line.substr(space), nullptr, 16);
        if (current->empty() || hasAddress) current->push_back(pc);
    }
    return threads;
}

namespace {

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, delimiter);) parts.push_back(part);
    return parts;
}

}  // namespace

std::vector<QemuDb> completedQemuDbs() {
    std::vector<QemuDb> dbs;
    for (const std::string& line : split(readFile(fs::path(FERROVANE_TEST_DATA_DIR) / "manifest.tsv"), '\n')) {
        if (line.empty() || line[0] == '#' || line.rfind("name\t", 0) == 0) continue;
        auto field = split(line, '\t');
        if (field.size() > 10 && (field[1] == "arm64") == kIs64 && field[8] == "completed")
            dbs.push_back({field[0], split(field[10], ',')});
    }
    return dbs;
}

StaticQemuCore::StaticQemuCore(coresift::Console& console, const fs::path& folder) {
    core_ = coresift::ElfImage::open(console, coresift::MappedFile::open((folder / "db/PROCESS_COREDUMP").string()),
                                     coresift::elf::kCoreTypes);
    program_ = coresift::ElfImage::open(console, coresift::MappedFile::open((folder / "db/symbols/system/bin/crashfix").string()),
                                        coresift::elf::kSymbolFileTypes);
    if (!core_ || !program_) return;
    // The core's bytes first; the program's segments where the core has none.
    core_->forEachLoad([&](const coresift::ProgramHeader& load) {
        if (load.filesz) memory.addView(static_cast<TargetWord>(load.vaddr), *core_->view(load.offset, load.filesz));
        return 0;
    });
    program_->forEachLoad([&](const coresift::ProgramHeader& load) {
        if (load.flags & 1) code = {static_cast<TargetWord>(load.vaddr), static_cast<TargetWord>(load.vaddr + load.memsz)};
        if (!memory.contains(static_cast<TargetWord>(load.vaddr)) && load.filesz)
            memory.addView(static_cast<TargetWord>(load.vaddr), *program_->view(load.offset, load.filesz));
        return 0;
    });
    core_->forEachNote(console, [&](const coresift::Note& note) {
        if (note.type != 1 || note.name != "CORE") return 0;  // NT_PRSTATUS
        coresift::decode::RegisterState regs;
        const std::uint32_t lwp = *note.desc.read<std::uint32_t>(kIs64 ? 32 : 24);  // pr_pid
        const std::uint64_t at = kIs64 ? 112 : 72;
        for (unsigned reg = 0; reg < coresift::decode::kValueRegisterCount; ++reg)
            regs.set(reg, *note.desc.read<TargetWord>(at + reg * sizeof(TargetWord)));
        if (!kIs64 && (*note.desc.read<TargetWord>(at + 16 * 4) & 0x20))
            regs.r[coresift::decode::kRegPc] |= 1;  // Thumb state
        threads.push_back({lwp, regs});
        return 0;
    });
}

}  // namespace testsupport

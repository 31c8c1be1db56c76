// The conversion of one offline case into the memory, registers and notes of a core.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>

#include "tools/corekit/elf_constants.h"
#include "tools/corekit/elf_file.h"
#include "tools/fixturekit/decompress.h"
#include "tools/fixturekit/memory_layout.h"
#include "tools/fixturekit/offline_case.h"

namespace fixturekit {

namespace elf = corekit::elf;
using corekit::CoreArch;

namespace {

constexpr std::uint32_t kCasePid = 1000;

std::string hex(std::uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, value);
    return buffer;
}

// One mapped ELF image of the case (a whole file, or an ELF stored inside an apk).
struct MappedElf {
    std::string name;        // maps.txt name
    std::string devicePath;  // its path in the db
    corekit::ElfFile elf;
    std::uint64_t bias = 0;
};

std::optional<MappedElf> mapElf(const OfflineCase& in, const std::string& name, const std::vector<std::uint8_t>& file,
                                std::vector<std::string>& log) {
    const common::ByteView whole(file.data(), file.size());
    std::vector<const MapsEntry*> mappings;
    for (const auto& m : in.maps)
        if (m.path == name) mappings.push_back(&m);
    std::sort(mappings.begin(), mappings.end(), [](auto* a, auto* b) { return a->start < b->start; });
    // The ELF image starts at offset 0, or (a library stored in an apk) at a mapping's offset.
    std::uint64_t elfOffset = 0;
    if (!corekit::looksLikeElf(whole)) {
        bool found = false;
        for (auto* m : mappings) {
            if (corekit::looksLikeElf(whole.from(m->offset))) {
                elfOffset = m->offset;
                found = true;
                break;
            }
        }
        if (!found) return std::nullopt;
    }
    auto parsed = corekit::ElfFile::parse(std::vector<std::uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(elfOffset),
                                                                    file.end()));
    if (!parsed) {
        log.push_back(name + ": not a readable ELF image");
        return std::nullopt;
    }
    MappedElf out{name, offlineDevicePath(name, in.arch), std::move(*parsed), 0};
    for (auto* m : mappings) {
        if (m->offset < elfOffset) continue;
        const std::uint64_t offset = m->offset - elfOffset;
        if (const corekit::ElfProgramHeader* p = out.elf.loadSegmentAtOffset(offset)) {
            out.bias = pageDown(m->start) - offset - p->vaddr + p->offset;
            log.push_back(name + ": load bias " + hex(out.bias));
            return out;
        }
    }
    log.push_back(name + ": no mapping lies in a load segment; load bias unknown");
    return std::nullopt;
}

// The library's writable segments as the device held them.
void addWritableSegments(const MappedElf& m, CoreArch arch, const ConversionOptions& options, MemoryLayout& memory,
                         std::vector<std::string>& log) {
    const unsigned w = corekit::wordSize(arch);
    const auto& data = m.elf.data();
    for (const auto& p : m.elf.programHeaders()) {
        if (p.type != elf::PT_LOAD || !(p.flags & elf::PF_W) || p.memsz == 0) continue;
        const std::uint64_t loadStart = m.bias + p.vaddr;
        const std::uint64_t segStart = pageDown(loadStart);
        const std::uint64_t segEnd = pageUp(loadStart + p.memsz);
        if (segEnd - segStart > (std::uint64_t{256} << 20)) continue;
        std::vector<std::uint8_t> image(static_cast<std::size_t>(segEnd - segStart), 0);
        // File bytes from the page start to the end of the file part (the mapping shows whole pages).
        for (std::uint64_t a = segStart; a < loadStart + p.filesz; ++a) {
            const std::int64_t fileOffset = static_cast<std::int64_t>(p.offset) + static_cast<std::int64_t>(a - loadStart);
            if (fileOffset >= 0 && static_cast<std::uint64_t>(fileOffset) < data.size())
                image[static_cast<std::size_t>(a - segStart)] = data[static_cast<std::size_t>(fileOffset)];
        }
        // The loader relocated the constructor and destructor tables; .dynamic stays as in the file.
        unsigned relocated = 0;
        for (const auto& s : m.elf.sections()) {
            if (s.type != elf::SHT_INIT_ARRAY && s.type != elf::SHT_FINI_ARRAY && s.type != elf::SHT_PREINIT_ARRAY) continue;
            for (std::uint64_t off = 0; off + w <= s.size; off += w) {
                const std::uint64_t at = m.bias + s.addr + off;
                if (at < segStart || at + w > segEnd) continue;
                std::uint64_t word = 0;
                for (unsigned i = 0; i < w; ++i) word |= std::uint64_t{image[static_cast<std::size_t>(at - segStart + i)]} << (8 * i);
                const std::uint64_t allOnes = w == 8 ? ~std::uint64_t{0} : 0xFFFFFFFFu;
                if (word == 0 || word == allOnes) continue;
                word = (word + m.bias) & allOnes;
                for (unsigned i = 0; i < w; ++i) image[static_cast<std::size_t>(at - segStart + i)] = static_cast<std::uint8_t>(word >> (8 * i));
                ++relocated;
            }
        }
        // Parts already mapped by maps.txt as this file's writable mapping take the bytes; the
        // rest becomes new regions named after the library.
        for (auto& run : memory.uncovered(segStart, segEnd)) {
            Region r;
            r.start = run.first;
            r.end = run.second;
            r.flags = options.rwWithoutBytes ? elf::PF_R : (elf::PF_R | elf::PF_W);
            r.name = m.devicePath;
            r.fileBacked = true;
            r.fileOffset = pageDown(p.offset) + (run.first - segStart);
            r.wholeWhenKnown = true;
            memory.add(std::move(r));
        }
        if (options.rwWithoutBytes) {
            log.push_back(m.name + ": writable segment " + hex(segStart) + "-" + hex(segEnd) + " read-only, without bytes");
            continue;
        }
        for (std::uint64_t a = segStart; a < segEnd; a += kPageSize) {
            Region* r = memory.regionAt(a);
            if (!r || r->name != m.devicePath || !(r->flags & elf::PF_W)) continue;
            r->wholeWhenKnown = true;
            memory.write(a, common::ByteView(image.data() + (a - segStart), kPageSize));
        }
        log.push_back(m.name + ": writable segment " + hex(segStart) + "-" + hex(segEnd) + ", " + std::to_string(relocated) +
                      " array words relocated");
    }
}

std::vector<corekit::ElfSymbol> allSymbols(const corekit::ElfFile& file) {
    auto symbols = file.symbols();
    if (const corekit::ElfSection* s = file.section(".gnu_debugdata")) {
        if (auto packed = file.sectionBytes(*s)) {
            if (auto inner = unxz(*packed)) {
                if (auto mini = corekit::ElfFile::parse(std::move(*inner))) {
                    auto more = mini->symbols();
                    symbols.insert(symbols.end(), more.begin(), more.end());
                }
            }
        }
    }
    return symbols;
}

// Whether the 32-bit pc lies in Thumb code: the function symbol's bit 0, else the nearest mapping
// symbol ($t / $a), else an address that is not a multiple of 4.
bool pcIsThumb(std::uint64_t pc, const std::vector<MappedElf>& elves, const MemoryLayout& memory,
               std::vector<std::string>& log) {
    const Region* region = memory.regionAt(pc);
    for (const auto& m : elves) {
        if (!region || region->name != m.devicePath) continue;
        const std::uint64_t vaddr = pc - m.bias;
        const corekit::ElfSymbol* mapping = nullptr;
        for (const auto& s : allSymbols(m.elf)) {
            const std::uint64_t start = s.value & ~std::uint64_t{1};
            if (s.type == elf::STT_FUNC && s.size && vaddr >= start && vaddr - start < s.size) {
                log.push_back("pc in " + s.name + (s.value & 1 ? " (Thumb)" : " (ARM)"));
                return s.value & 1;
            }
            const bool isMapping = s.name == "$a" || s.name == "$t" || s.name.rfind("$a.", 0) == 0 ||
                                   s.name.rfind("$t.", 0) == 0 || s.name == "$d" || s.name.rfind("$d.", 0) == 0;
            if (isMapping && s.value <= vaddr && (!mapping || s.value > mapping->value)) mapping = &s;
        }
        if (mapping && mapping->name[1] != 'd') {
            log.push_back(std::string("pc after mapping symbol ") + mapping->name);
            return mapping->name[1] == 't';
        }
    }
    const bool thumb = (pc & 2) != 0;
    log.push_back(std::string("pc in no known function: ") + (thumb ? "Thumb (not word-aligned)" : "taken as ARM"));
    return thumb;
}

std::vector<std::uint64_t> registerBlock(const OfflineCase& in, bool thumb) {
    const bool is64 = in.arch == CoreArch::Arm64;
    std::vector<std::uint64_t> regs(corekit::registerCount(in.arch), 0);
    for (const auto& [name, value] : in.regs) {
        int index = -1;
        if (name == "sp") index = is64 ? 31 : 13;
        else if (name == "pc") index = is64 ? 32 : 15;
        else if (name == "lr") index = is64 ? 30 : 14;
        else if (name == "fp") index = is64 ? 29 : 11;
        else if (name == "ip") index = 12;
        else if (name == "pst" || name == "pstate" || name == "cpsr") index = is64 ? 33 : 16;
        else if (name.size() > 1 && (name[0] == 'x' || name[0] == 'r')) index = std::atoi(name.c_str() + 1);
        if (index >= 0 && index < static_cast<int>(regs.size())) regs[static_cast<std::size_t>(index)] = value;
    }
    if (!is64) regs[16] = (regs[16] & ~std::uint64_t{0x3F}) | 0x10 | (thumb ? 0x20 : 0);  // user mode
    return regs;
}

std::string permsOf(std::uint32_t flags, bool shared = false) {
    std::string p = "---p";
    if (flags & elf::PF_R) p[0] = 'r';
    if (flags & elf::PF_W) p[1] = 'w';
    if (flags & elf::PF_X) p[2] = 'x';
    if (shared) p[3] = 's';
    return p;
}

}  // namespace

bool convertOfflineCase(const OfflineCase& in, const ConversionOptions& options, OfflineDb& out, std::string& error) {
    if (!options.force) {
        const std::string why = unsupportedReason(in.name);
        if (!why.empty()) {
            error = in.name + " is not supported: " + why;
            return false;
        }
    }
    out = OfflineDb{};
    out.core = corekit::CoreBuilder(in.arch);
    const bool is64 = in.arch == CoreArch::Arm64;

    // 1. The mappings of maps.txt, page-rounded, under their device names.
    MemoryLayout memory;
    for (const auto& m : in.maps) {
        Region r;
        r.start = pageDown(m.start);
        r.end = pageUp(m.end);
        r.flags = m.elfFlags();
        r.name = offlineDevicePath(m.path, in.arch);
        r.fileBacked = !r.name.empty() && r.name[0] == '/';
        r.fileOffset = m.offset;
        if (!memory.add(r)) out.log.push_back("maps line " + hex(m.start) + " overlaps another; left out");
    }
    // The vdso's bytes: kernel cores always hold them.
    for (const auto& m : in.maps) {
        auto file = in.files.find(m.path);
        if (offlineDevicePath(m.path, in.arch) != "[vdso]" || file == in.files.end()) continue;
        Region* r = memory.regionAt(pageDown(m.start));
        if (!r) continue;  // its maps line overlapped another and was left out
        r->wholeWhenKnown = true;
        const auto& bytes = file->second;
        if (m.offset < bytes.size())
            memory.write(pageDown(m.start), common::ByteView(bytes.data() + m.offset,
                                                             std::min<std::uint64_t>(bytes.size() - m.offset, r->end - r->start)));
    }

    // 2. The ELF images and their writable segments.
    std::vector<MappedElf> elves;
    for (const auto& [name, bytes] : in.files) {
        if (offlineDevicePath(name, in.arch) == "[vdso]") continue;
        if (auto m = mapElf(in, name, bytes, out.log)) elves.push_back(std::move(*m));
    }
    for (const auto& m : elves) addWritableSegments(m, in.arch, options, memory, out.log);

    // 3. The memory snapshots, in regions of their own where maps.txt has none.
    std::uint64_t sp = 0, pc = 0;
    for (const auto& [name, value] : in.regs) {
        if (name == "sp") sp = value;
        if (name == "pc") pc = value;
    }
    for (const auto& s : in.snapshots) {
        if (s.bytes.empty()) continue;
        for (auto& run : memory.uncovered(s.start, s.start + s.bytes.size())) {
            Region r;
            r.start = run.first;
            r.end = run.second;
            // JIT code snapshots are code; everything else is data.
            r.flags = s.file.rfind("jit", 0) == 0 ? (elf::PF_R | elf::PF_X) : (elf::PF_R | elf::PF_W);
            if (sp >= r.start && sp < r.end) r.name = "[stack]";
            r.wholeWhenKnown = true;
            memory.add(std::move(r));
        }
        memory.write(s.start, common::ByteView(s.bytes.data(), s.bytes.size()));
    }

    // 4. The registers. An AArch64 pc may carry a pointer-authentication code above the 48
    // address bits; the core keeps the value as it was, the mapping check uses the address.
    const std::uint64_t pcAddress = is64 ? (pc & 0x0000FFFFFFFFFFFFull) : pc;
    if (!memory.regionAt(pcAddress)) {
        error = "the pc " + hex(pc) + " lies in no mapping of maps.txt";
        return false;
    }
    const bool thumb = !is64 && pcIsThumb(pc, elves, memory, out.log);
    corekit::PrStatus status;
    status.pid = kCasePid;
    status.ppid = 1;
    status.pgrp = kCasePid;
    status.sid = kCasePid;
    status.regs = registerBlock(in, thumb);

    // 5. The process: the executable, AT_BASE, AT_ENTRY.
    const MappedElf* executable = nullptr;
    for (const auto& m : elves) {
        const bool looksExecutable = m.elf.type() == elf::ET_EXEC || m.elf.hasInterpreter();
        if (looksExecutable && m.devicePath.rfind("/system/bin/linker", 0) != 0) executable = &m;
    }
    std::uint64_t atBase = 0;
    std::string baseReason = "no file mapping";
    for (const auto& r : memory.regions()) {
        if (r.name == "/system/bin/linker" || r.name == "/system/bin/linker64") {
            atBase = r.start;
            baseReason = "the linker's first mapping";
            break;
        }
    }
    if (!atBase) {
        for (const auto& m : elves) {
            for (const auto& r : memory.regions()) {
                if (r.name != m.devicePath) continue;
                const corekit::ElfProgramHeader* first = nullptr;
                for (const auto& p : m.elf.programHeaders())
                    if (p.type == elf::PT_LOAD && !first) first = &p;
                const bool headerHere = first && first->offset == 0 && r.start == pageDown(m.bias + first->vaddr);
                if (headerHere && (!atBase || r.start < atBase)) {
                    atBase = r.start;
                    baseReason = "the lowest mapping that starts with an ELF header (" + m.name + ")";
                }
                break;
            }
        }
    }
    if (!atBase) {
        for (const auto& r : memory.regions()) {
            if (r.fileBacked) {
                atBase = r.start;
                baseReason = "the lowest file mapping (" + r.name + ")";
                break;
            }
        }
    }
    out.log.push_back("AT_BASE " + hex(atBase) + ": " + baseReason);

    corekit::PrPsInfo process;
    process.pid = kCasePid;
    process.ppid = 1;
    process.pgrp = kCasePid;
    process.sid = kCasePid;
    if (executable) {
        process.psargs = executable->devicePath;
        process.fname = executable->devicePath.substr(executable->devicePath.rfind('/') + 1);
    }
    corekit::Auxv auxv = {{elf::AT_PAGESZ, kPageSize}, {elf::AT_BASE, atBase}};
    if (executable) auxv.emplace_back(elf::AT_ENTRY, executable->bias + executable->elf.entry());

    corekit::FileNote files;
    for (const auto& r : memory.regions()) {
        if (r.fileBacked) files.mappings.push_back({r.start, r.end, r.fileOffset / kPageSize, r.name});
    }

    out.core.addPrStatus(status).addPrPsInfo(process).addAuxv(auxv).addFileNote(files);
    for (auto& s : memory.segments()) out.core.addSegment(std::move(s));

    // 6. PROCESS_MAPS and the symbols folder.
    for (const auto& r : memory.regions()) {
        MapsEntry e;
        e.start = r.start;
        e.end = r.end;
        e.perms = permsOf(r.flags);
        e.offset = r.fileBacked ? r.fileOffset : 0;
        e.device = r.fileBacked ? "fd:00" : "00:00";
        e.inode = 0;
        e.path = r.name;
        out.processMaps += formatMapsLine(e, is64);
    }
    for (const auto& [name, bytes] : in.files) {
        const std::string path = offlineDevicePath(name, in.arch);
        if (!path.empty() && path[0] == '/') out.symbols.emplace_back(path, bytes);
    }
    return true;
}

}  // namespace fixturekit

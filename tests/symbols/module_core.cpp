#include "tests/symbols/module_core.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "tools/corekit/elf_constants.h"

namespace testsupport {

namespace fs = std::filesystem;
namespace elf = corekit::elf;

namespace {

constexpr auto kArch = kIs64 ? corekit::CoreArch::Arm64 : corekit::CoreArch::Arm32;
constexpr unsigned kWord = kIs64 ? 8 : 4;
constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kRecordSize = 512;
constexpr std::uint32_t kShtInitArray = 14, kShtFiniArray = 15, kShtRel = 9;

std::uint64_t pageDown(std::uint64_t a) { return a & ~(kPage - 1); }
std::uint64_t pageUp(std::uint64_t a) { return (a + kPage - 1) & ~(kPage - 1); }

std::uint64_t wordAt(const std::vector<std::uint8_t>& bytes, std::size_t at, unsigned size) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i) value |= std::uint64_t{bytes.at(at + i)} << (8 * i);
    return value;
}

}  // namespace

void putWord(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, unsigned size) {
    if (bytes.size() < at + size) bytes.resize(at + size, 0);
    for (unsigned i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

fs::path moduleFixtures() {
    fs::path path = fs::path(FERROVANE_TEST_DATA_DIR) / "modules";
    if (!fs::exists(path / "stamp")) return {};
    return path / (kIs64 ? "arm64" : "arm");
}

ProcessCore::ProcessCore() {
    // A stack with the thread's registers pointing into it.
    addRegion(kStackBase, std::vector<std::uint8_t>(2 * kPage, 0), elf::PF_R | elf::PF_W);
}

void ProcessCore::addRegion(std::uint64_t start, std::vector<std::uint8_t> bytes, std::uint32_t flags,
                            const std::string& name) {
    bytes.resize(pageUp(bytes.size()), 0);
    corekit::CoreSegment segment;
    segment.vaddr = start;
    segment.memsz = bytes.size();
    segment.flags = flags;
    segment.hasBytes = true;
    segment.bytes = std::move(bytes);
    if (!name.empty()) names_.push_back({start, start + segment.memsz, 0, name});
    segments_.push_back(std::move(segment));
}

void ProcessCore::addEmptyRegion(std::uint64_t start, std::uint64_t size, std::uint32_t flags, const std::string& name) {
    corekit::CoreSegment segment;
    segment.vaddr = start;
    segment.memsz = pageUp(size);
    segment.flags = flags;
    if (!name.empty()) names_.push_back({start, start + segment.memsz, 0, name});
    segments_.push_back(std::move(segment));
}

void ProcessCore::addLinker(const std::string& path) {
    addEmptyRegion(kLinkerBase, kPage, elf::PF_R | elf::PF_X, path);
    addRegion(kLinkerBase + kPage, std::vector<std::uint8_t>(kPage, 0), elf::PF_R | elf::PF_W, path);
    atBase_ = kLinkerBase;
}

const MappedLibrary& ProcessCore::addLibrary(const LibraryPlacement& placement) {
    std::string error;
    auto parsed = corekit::ElfFile::load(placement.file.string(), &error);
    if (!parsed) throw std::runtime_error(placement.file.string() + ": " + error);
    MappedLibrary lib{placement, std::move(*parsed)};
    const auto& data = lib.elf.data();
    const std::uint64_t bias = placement.bias;
    for (const auto& p : lib.elf.programHeaders()) {
        if (p.type == 6) lib.phdrAddress = bias + p.vaddr;  // PT_PHDR
        if (p.type == elf::PT_DYNAMIC) lib.dynamicAddress = bias + p.vaddr;
        if (p.type == 0x70000001) lib.exidxCount = static_cast<std::uint32_t>(p.filesz / 8);
        if (p.type != elf::PT_LOAD || p.memsz == 0) continue;
        const bool writable = p.flags & elf::PF_W;
        const std::uint64_t rounding = writable ? kPage : placement.codeRounding;
        const std::uint64_t start = pageDown(bias + p.vaddr);
        const std::uint64_t end = (bias + p.vaddr + p.memsz + rounding - 1) / rounding * rounding;
        lib.end = std::max(lib.end, end);
        if (writable && !placement.writableMapped) continue;
        const bool withBytes = writable ? placement.writableBytes && !placement.writableAsReadOnly : placement.codeInDump;
        std::uint32_t flags = writable && placement.writableAsReadOnly ? elf::PF_R : p.flags;
        names_.push_back({start, end, pageDown(p.offset) / kPage, placement.devicePath});
        if (!withBytes) {
            addEmptyRegion(start, end - start, flags);
            continue;
        }
        // The file's pages as the loader maps them: whole pages of the file, zeros past p_filesz
        // for a writable segment.
        std::vector<std::uint8_t> bytes(end - start, 0);
        const std::uint64_t fileStart = p.offset - ((bias + p.vaddr) - start);
        const std::uint64_t copyEnd = writable ? (bias + p.vaddr + p.filesz) - start : bytes.size();
        for (std::uint64_t i = 0; i < copyEnd && fileStart + i < data.size(); ++i) bytes[i] = data[fileStart + i];
        addRegion(start, std::move(bytes), flags);
    }
    if (!lib.phdrAddress) lib.phdrAddress = bias + (kIs64 ? 64 : 52);
    libraries_.push_back(std::move(lib));
    MappedLibrary& added = libraries_.back();
    // The loader's work on the writable segment: constructor and destructor tables relocated.
    for (const auto& s : added.elf.sections()) {
        if ((s.type != kShtInitArray && s.type != kShtFiniArray) || !placement.writableBytes ||
            placement.writableAsReadOnly || !placement.writableMapped)
            continue;
        for (std::uint64_t off = 0; off + kWord <= s.size; off += kWord) {
            std::uint64_t at = bias + s.addr + off;
            auto word = wordAt(read(at, kWord), 0, kWord);
            if (word != 0 && word != (kIs64 ? ~0ull : 0xFFFFFFFFull)) patchWord(at, word + bias);
        }
    }
    if (placement.textRelocated && placement.codeInDump) {
        const corekit::ElfSection* rel = nullptr;
        for (const auto& s : added.elf.sections())
            if (s.type == kShtRel && s.name == ".rel.dyn") rel = &s;
        auto bytes = rel ? added.elf.sectionBytes(*rel) : std::nullopt;
        for (std::uint64_t at = 0; bytes && at + 8 <= bytes->size(); at += 8) {
            std::uint32_t offset = bytes->read<std::uint32_t>(at).value_or(0), info = bytes->read<std::uint32_t>(at + 4).value_or(0);
            auto* segment = segmentAt(bias + offset);
            if (!segment || !segment->hasBytes || (segment->flags & elf::PF_W)) continue;  // text only
            std::uint64_t word = wordAt(read(bias + offset, 4), 0, 4);
            if ((info & 0xFF) == 23) patchWord(bias + offset, (word + bias) & 0xFFFFFFFF, 4);
            if ((info & 0xFF) == 2) patchWord(bias + offset, 0x12345678, 4);
        }
    }
    return added;
}

std::uint64_t ProcessCore::recordAddress(std::size_t n) const { return records_.at(n); }

namespace {

// A string object: short form inline when it fits, else the long form pointing at `textAddress`
// (where the caller stores the text).
void putStringObject(std::vector<std::uint8_t>& bytes, std::size_t at, const std::string& text, std::uint64_t textAddress) {
    if (text.size() < 3 * kWord - 1) {
        bytes[at] = static_cast<std::uint8_t>(text.size() << 1);
        std::memcpy(bytes.data() + at + 1, text.data(), text.size());
        return;
    }
    putWord(bytes, at, (text.size() + 1) | 1, kWord);
    putWord(bytes, at + kWord, text.size(), kWord);
    putWord(bytes, at + 2 * kWord, textAddress, kWord);
}

struct RecordWriter {
    std::vector<std::uint8_t>& bytes;
    std::size_t at;  // record offset in `bytes`
    unsigned window;

    void word(std::size_t index, std::uint64_t value) { putWord(bytes, at + window + index * kWord, value, kWord); }
    void flags(std::uint32_t value) { putWord(bytes, at + window + (kIs64 ? 32 : 28), value, 4); }
    void version(std::uint32_t value) { putWord(bytes, at + window + (kIs64 ? 252 : 152), value, 4); }
};

}  // namespace

void ProcessCore::addLinkerRecords(const std::vector<LibraryRecordPlan>& plans, const RecordLayout& layout) {
    const unsigned window = kIs64 ? (layout.extraLeadingWord || layout.version < 2 ? 24 : 16) : 140;
    // Word indexes inside the window.
    const std::size_t next = kIs64 ? 3 : 6, strings = kIs64 ? 5 : 8, references = kIs64 ? 23 : 29;
    const std::size_t linkAddress = kIs64 ? 24 : 30, linkName = kIs64 ? 25 : 31, loadBias = kIs64 ? 30 : 36;
    const std::size_t size = 1, dynamic = kIs64 ? 2 : 3;

    // The library records, and after them their names' texts.
    std::vector<std::uint8_t> area((plans.size() + 1) * kRecordSize + 64 * (plans.size() + 1), 0);
    records_.clear();
    for (std::size_t i = 0; i < plans.size(); ++i) records_.push_back(kRecordsBase + i * kRecordSize);
    const std::uint64_t textBase = kRecordsBase + (plans.size() + 1) * kRecordSize;
    const std::string linkerPath = layout.linkerRealpath ? (kIs64 ? "/system/bin/linker64" : "/system/bin/linker")
                                                         : "/apex/com.android.runtime/bin/bootstrap";
    auto nameOffset = [&](bool linkerNamed) -> std::size_t {
        if (kIs64) {
            if (layout.version < 2) return 0;
            unsigned shift = window == 24 ? 8 : 0;
            return (linkerNamed && layout.version > 5 ? 432 : 416) + shift;
        }
        if (!layout.newLayoutFlag || layout.version < 2) return 0;
        return linkerNamed && layout.version > 5 ? 388 : 380;
    };
    const bool linkerNamed = layout.linkerRealpath;
    const bool inlineNames = !kIs64 && nameOffset(linkerNamed) == 0;

    for (std::size_t i = 0; i < plans.size(); ++i) {
        const LibraryRecordPlan& plan = plans[i];
        const MappedLibrary& lib = libraries_.at(plan.library);
        RecordWriter r{area, i * kRecordSize, window};
        const std::uint64_t bias = lib.placement.bias;
        const bool small = kIs64 && layout.version < 2;  // name pointer, program headers, count, base
        const std::size_t phdrAt = kIs64 ? (small ? 8 : 0) : 128;
        putWord(area, i * kRecordSize + phdrAt, plan.programHeaders == ~0ull ? lib.phdrAddress : plan.programHeaders, kWord);
        if (kIs64) putWord(area, i * kRecordSize + window - 8, layout.extraLeadingWord && !small ? kRecordsBase : 8, kWord);
        r.word(0, bias);
        r.word(size, lib.end - bias);
        r.word(dynamic, plan.dynamic == ~0ull ? lib.dynamicAddress : plan.dynamic);
        if (!kIs64) r.word(4, plan.legacyWord);
        std::uint64_t following = i + 1 < plans.size() ? records_[i + 1] : 0;
        r.word(next, plan.next == ~0ull ? following : plan.next);
        r.flags(plan.flags | (layout.newLayoutFlag ? 0x40000000u : 0));
        if (!kIs64) r.word(28, lib.exidxCount);
        r.word(references, 1);
        r.word(linkAddress, plan.linkAddress);
        std::uint64_t text = textBase + i * 64;
        r.word(linkName, plan.linked ? text : 0);
        r.word(loadBias, plan.loadBias == ~0ull ? bias : plan.loadBias);
        r.version(layout.version);
        const std::string& path = lib.placement.devicePath;
        std::size_t textAt = text - kRecordsBase;
        std::memcpy(area.data() + textAt, path.data(), std::min<std::size_t>(path.size(), 63));
        if (inlineNames) std::memcpy(area.data() + i * kRecordSize, path.data(), std::min<std::size_t>(path.size(), 127));
        else if (small) putWord(area, i * kRecordSize, text, kWord);
        else putStringObject(area, i * kRecordSize + nameOffset(linkerNamed), path, text);
    }
    addRegion(kRecordsBase, std::move(area), elf::PF_R | elf::PF_W);

    // The linker's own record, in its data page: the scan finds it by its fields.
    auto* data = segmentAt(kLinkerBase + kPage);
    std::vector<std::uint8_t>& page = data->bytes;
    const std::size_t own = 0x200;
    RecordWriter r{page, own, window};
    if (kIs64) putWord(page, own + window - 8, layout.extraLeadingWord ? kLinkerBase : 8, kWord);
    r.word(0, 0);
    r.word(strings, kLinkerBase + 0x10);
    r.word(references, 1);
    r.word(loadBias, kLinkerBase);
    if (layout.newLayoutFlag) {
        r.flags(0x40000041);
    } else {
        r.flags(1);  // the other form the scan accepts: linked, one hash bucket
        r.word(kIs64 ? 7 : 10, 1);
    }
    r.word(next, plans.empty() ? 0 : records_[0]);
    r.version(layout.version);
    const std::size_t linkerText = 0x800;
    std::memcpy(page.data() + linkerText, linkerPath.data(), linkerPath.size());
    if (!inlineNames && nameOffset(linkerNamed) && !(kIs64 && layout.version < 2))
        putStringObject(page, own + nameOffset(linkerNamed), linkerPath, kLinkerBase + kPage + linkerText);
    if (kIs64 && layout.version > 5) {
        // The realpath the layout choice looks at.
        unsigned shift = window == 24 ? 8 : 0;
        putStringObject(page, own + 432 + shift, linkerPath, kLinkerBase + kPage + linkerText);
    }
    if (!kIs64 && layout.newLayoutFlag && layout.version > 5)
        putStringObject(page, own + 388, linkerPath, kLinkerBase + kPage + linkerText);
}

void ProcessCore::setExecutable(const std::string& path, std::uint64_t entry) {
    executable_ = path;
    entry_ = entry;
}

corekit::CoreSegment* ProcessCore::segmentAt(std::uint64_t address) {
    for (auto& s : segments_)
        if (address >= s.vaddr && address - s.vaddr < s.memsz) return &s;
    return nullptr;
}

const corekit::CoreSegment* ProcessCore::segmentAt(std::uint64_t address) const {
    return const_cast<ProcessCore*>(this)->segmentAt(address);
}

void ProcessCore::patch(std::uint64_t address, const std::vector<std::uint8_t>& bytes) {
    auto* segment = segmentAt(address);
    if (!segment || !segment->hasBytes || address - segment->vaddr + bytes.size() > segment->bytes.size())
        throw std::runtime_error("patch outside the dumped bytes");
    std::copy(bytes.begin(), bytes.end(), segment->bytes.begin() + static_cast<std::ptrdiff_t>(address - segment->vaddr));
}

void ProcessCore::patchWord(std::uint64_t address, std::uint64_t value, unsigned size) {
    std::vector<std::uint8_t> bytes;
    putWord(bytes, 0, value, size);
    patch(address, bytes);
}

std::vector<std::uint8_t> ProcessCore::read(std::uint64_t address, std::size_t size) const {
    const auto* segment = segmentAt(address);
    if (!segment || !segment->hasBytes || address - segment->vaddr + size > segment->bytes.size())
        throw std::runtime_error("read outside the dumped bytes");
    auto from = segment->bytes.begin() + static_cast<std::ptrdiff_t>(address - segment->vaddr);
    return std::vector<std::uint8_t>(from, from + static_cast<std::ptrdiff_t>(size));
}

void ProcessCore::write(const fs::path& db) const {
    corekit::CoreBuilder core(kArch);
    std::vector<std::uint8_t> stack = segmentAt(kStackBase)->bytes;
    std::uint64_t execFn = 0;
    if (!executable_.empty()) {
        execFn = kStackBase + kPage;
        std::memcpy(stack.data() + kPage, executable_.data(), executable_.size());
    }
    for (const auto& s : segments_) {
        if (s.vaddr == kStackBase) {
            core.addSegment(s.vaddr, stack, s.flags);
        } else {
            core.addSegment(s);
        }
    }
    corekit::PrStatus thread;
    thread.pid = 100;
    thread.ppid = 1;
    thread.cursig = 11;
    thread.regs.assign(corekit::registerCount(kArch), 0);
    thread.regs[kIs64 ? 31 : 13] = kStackBase + 0x800;
    thread.regs[kIs64 ? 32 : 15] = entry_;
    core.addPrStatus(thread);
    corekit::PrPsInfo info;
    info.pid = 100;
    info.ppid = 1;
    info.fname = "modtest";
    core.addPrPsInfo(info);
    corekit::Auxv auxv = {{elf::AT_PAGESZ, kPage}, {elf::AT_BASE, atBase_}, {elf::AT_ENTRY, entry_}};
    if (execFn) auxv.emplace_back(elf::AT_EXECFN, execFn);
    core.addAuxv(auxv);
    corekit::FileNote files;
    files.mappings = names_;
    core.addFileNote(files);
    std::string error;
    if (!core.write((db / "PROCESS_COREDUMP").string(), &error)) throw std::runtime_error(error);
}

void placeSymbolFile(const fs::path& db, const std::string& relative, const fs::path& file) {
    fs::path target = db / "symbols" / relative;
    fs::create_directories(target.parent_path());
    fs::copy_file(file, target, fs::copy_options::overwrite_existing);
}

}  // namespace testsupport

// Matching a module with its symbol file: the file's load windows, the size check, the content
// check (the code itself when the dump holds it, else the dynamic section and the constructor
// tables), and the verdict: kept and serving the module's missing pages, kept for its symbols
// only (function match mode), or dropped.
#include <algorithm>
#include <cstring>
#include <new>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/symbols/code_comparison.h"
#include "analyzer/symbols/module_list.h"
#include "analyzer/symbols/module_regions.h"
#include "analyzer/symbols/module_symbols.h"
#include "analyzer/symbols/symbol_file_search.h"

namespace coresift {

namespace {

namespace rk = region_kind;

constexpr std::uint32_t kShtDynamic = 6, kShtInitArray = 14, kShtFiniArray = 15;
constexpr std::uint32_t kPtArmExidx = 0x70000001;
constexpr TargetWord kDtNeeded = 1, kDtDebug = 21;
constexpr std::uint32_t kRelAbsolute = 2, kRelRelative = 23;
constexpr std::uint32_t kMaxRelocations = 1u << 22;
constexpr std::size_t kMaxDiffWords = 4;

std::uint64_t roundUp(std::uint64_t value, std::uint64_t unit) {
    if (unit <= 1) return value;
    std::uint64_t rest = value % unit;
    return rest ? value + (unit - rest) : value;
}

bool windowFits(TargetWord size, const LoadWindow& window) {
    return size == window.alignedLength || size == window.pageLength;
}

enum class SectionCheck { Same, Differs, Unreadable };

class Matcher {
public:
    // The symbol file the verdict keeps (with its MiniDebugInfo image), handed to the module's
    // symbol source; nothing when there is none or it was dropped.
    void handOver() {
        if (!kept_) image_.reset(), mini_.reset();
        attachSymbolSource(context_, module_, std::move(image_), std::move(mini_));
    }

    Matcher(RunContext& context, Module& module)
        : context_(context), console_(context.console), space_(*context.addressSpace), module_(module) {}

    void run() {
        prepareDumpCode();
        auto accept = [&](const std::string& candidate) { return plausibleSymbolFile(candidate, module_.code.size); };
        auto file = findSymbolFile(context_, module_.path, accept);
        if (!file) return;
        image_ = ElfImage::open(console_, file, elf::kSymbolFileTypes);
        if (!image_) return;
        fileBuildId_ = image_->buildId(console_);
        learnFromFile();
        if (!mapWindows()) return;
        findSymbolTables();
        bool matched = sizesAgree() && contentAgrees();
        if (matched) keep();
        else reject();
    }

private:
    const std::string& filePath() const { return image_->name(); }

    // Step 1: the code as the dump holds it; with text relocations, a copy with the load-time
    // relocations undone.
    void prepareDumpCode() {
        if (!module_.has(module_flag::kCodeInDump)) return;
        dumpCode_ = stretchBytes(space_, module_.code, codeCopy_);
        if constexpr (!kIs64) {
            const DumpDynamicTables& d = module_.dynamic;
            if (!module_.has(module_flag::kTextRelocations) || !d.relocations || dumpCode_.empty()) return;
            if (codeCopy_.empty()) {
                try {
                    codeCopy_.assign(dumpCode_.data(), dumpCode_.data() + dumpCode_.size());
                } catch (const std::bad_alloc&) {
                    console_.warning(Msg::OutOfMemory);
                    return;
                }
                dumpCode_ = common::ByteView(codeCopy_.data(), codeCopy_.size());
            }
            undoTextRelocations();
        }
    }

    // Each 8-byte DT_REL entry below the end of the code: absolute words back to 0, relative
    // words back to their file value. Offsets outside the copy are passed over.
    void undoTextRelocations() {
        const TargetWord bias = module_.loadBias;
        const std::uint64_t limit = static_cast<std::uint64_t>(module_.code.end() - bias);
        const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(module_.dynamic.relocationsSize / 8, kMaxRelocations));
        for (std::uint32_t i = 0; i < count; ++i) {
            auto offset = space_.read<std::uint32_t>(module_.dynamic.relocations + i * 8);
            auto info = space_.read<std::uint32_t>(module_.dynamic.relocations + i * 8 + 4);
            if (!offset || !info) break;
            if (*offset >= limit) continue;
            const std::uint32_t type = *info & 0xFF;
            if (type != kRelAbsolute && type != kRelRelative) {
                console_.warning(Msg::UnrecognizedRelType, static_cast<int>(type));
                continue;
            }
            // The word must lie wholly inside the copy, whatever the offset says.
            const TargetWord at = static_cast<TargetWord>(*offset + bias);
            if (codeCopy_.size() < 4 || at < module_.code.start) continue;
            const std::uint64_t position = at - module_.code.start;
            if (position > codeCopy_.size() - 4) continue;
            std::uint8_t* word = codeCopy_.data() + position;
            std::uint32_t value = 0;
            if (type == kRelRelative) {
                std::memcpy(&value, word, 4);
                value -= static_cast<std::uint32_t>(bias);
            }
            std::memcpy(word, &value, 4);
        }
    }

    // A module found without its headers takes from the candidate file what the headers would
    // have said: the load bias (from the load segment at file offset 0), the dynamic section and
    // the exception index size.
    void learnFromFile() {
        if (!module_.biasKnown) {
            if (auto vaddr = firstLoadAddress(*image_)) {
                module_.loadBias = module_.header.start - static_cast<TargetWord>(*vaddr & ~std::uint64_t{0xFFF});
                module_.biasKnown = true;
            }
        }
        if (module_.has(module_flag::kHeadersRead)) return;
        if (!module_.dynamicAddress) {
            if (auto dynamic = image_->findSegment(elf::kPtDynamic))
                module_.dynamicAddress = module_.loadBias + static_cast<TargetWord>(dynamic->vaddr);
        }
        if (!kIs64 && !module_.soinfo) {
            if (auto exidx = image_->findSegment(kPtArmExidx)) {
                module_.unwind.exidx = module_.loadBias + static_cast<TargetWord>(exidx->vaddr);
                module_.unwind.exidxCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(exidx->filesz / 8, ~0u));
            }
        }
    }

    // Step 4: the read-only window (the load segment at file offset 0) and the executable one.
    bool mapWindows() {
        for (std::uint32_t i = 0; i < image_->segmentCount(); ++i) {
            auto load = image_->segment(i);
            if (!load || load->type != elf::kPtLoad || load->filesz != load->memsz) continue;
            const bool readOnly = !(load->flags & 2) && load->offset == 0;
            const bool executable = (load->flags & 1) != 0;
            if (readOnly && !takeWindow(*load, module_.ro, "RO")) return false;
            if (executable && !takeWindow(*load, module_.rx, "RX")) return false;
        }
        if (!module_.ro.present) {
            console_.error(Msg::FailToFindSegment, module_.name, "RO LOAD");
            return false;
        }
        if (!module_.rx.present) module_.rx = module_.ro;
        return true;
    }

    bool takeWindow(const ProgramHeader& load, LoadWindow& window, const char* which) {
        if (window.present) {
            console_.warning(Msg::MultipleSegments, module_.name, which);
            return true;
        }
        std::uint64_t align = load.align ? load.align : 1;
        std::uint64_t inAlign = load.vaddr % align;
        LoadWindow w;
        w.present = true;
        w.fileOffset = load.offset - std::min(load.offset, load.offset % align);
        w.vaddr = load.vaddr - std::min(load.vaddr, inAlign);
        w.segmentVaddr = load.vaddr;
        w.alignedLength = roundUp(inAlign + load.filesz, align);
        w.pageLength = roundUp((load.vaddr & 0xFFF) + load.filesz, 4096);
        // The segment's own bytes must be in the file; a window rounded past the file's end is
        // served with zeros there.
        const std::uint64_t fileSize = image_->bytes().size();
        if (!image_->view(load.offset, load.filesz) || w.fileOffset >= fileSize) {
            console_.warning(Msg::FailToMap, filePath(), std::string(which) + " LOAD");
            return false;
        }
        w.bytes = *image_->view(w.fileOffset, std::min(w.alignedLength, fileSize - w.fileOffset));
        window = w;
        return true;
    }

    // Step 5, with a MiniDebugInfo symbol table standing in for a missing `.symtab`.
    void findSymbolTables() {
        hasSymtab_ = image_->symtabIndex().has_value();
        for (std::uint32_t i = 0; i < image_->sectionCount() && !hasDebugLine_; ++i) {
            auto section = image_->section(i);
            hasDebugLine_ = section && section->name == ".debug_line";
        }
        if (!hasSymtab_) {
            mini_ = image_->miniDebugInfo(console_);
            hasSymtab_ = mini_ && !mini_->symbolTable().empty();
        }
    }

    // Step 6. A header stretch shorter than the read-only window passes when the rest of the
    // window is a no-access gap cut out of the mapping.
    bool sizesAgree() const {
        bool header = windowFits(module_.header.size, module_.ro) || gapCompletes(module_.ro.pageLength) ||
                      gapCompletes(module_.ro.alignedLength);
        return header && windowFits(module_.code.size, module_.rx);
    }

    bool gapCompletes(std::uint64_t windowLength) const {
        if (module_.header.size >= windowLength) return false;
        TargetWord at = module_.header.end();
        const std::uint64_t windowEnd = std::uint64_t{module_.header.start} + windowLength;
        while (at < windowEnd) {
            MapEntry* region = space_.regionAt(at);
            if (!region || region->start != at || (region->kind & rk::kPermissions)) return false;
            if (region->end <= at) return false;
            at = region->end;
        }
        return true;
    }

    bool contentAgrees() {
        if (module_.has(module_flag::kCodeInDump)) return codeAgrees();
        return tablesAgree();
    }

    // Step 7: without the code, the dynamic section and the constructor and destructor tables
    // must hold what the loader made of the file's, and the exception index must be as long.
    bool tablesAgree() {
        auto dynamic = firstSectionOfType(kShtDynamic);
        if (!dynamic) return false;
        for (const auto& section : {dynamic, firstSectionOfType(kShtInitArray), firstSectionOfType(kShtFiniArray)}) {
            if (!section) continue;
            SectionCheck check = checkSection(*section);
            if (check == SectionCheck::Differs) return false;
            if (check == SectionCheck::Unreadable) {
                console_.warning(Msg::CannotCheckMatch, module_.name);
                return true;
            }
        }
        if constexpr (!kIs64) {
            auto exidx = image_->findSegment(kPtArmExidx);
            std::uint64_t count = exidx ? exidx->filesz / 8 : 0;
            if (count != module_.unwind.exidxCount) return false;
        }
        return true;
    }

    std::optional<SectionHeader> firstSectionOfType(std::uint32_t type) const { return image_->findSection(type); }

    SectionCheck checkSection(const SectionHeader& section) {
        const TargetWord address = static_cast<TargetWord>(section.addr) + module_.loadBias;
        if (!space_.regionAt(address)) return SectionCheck::Differs;
        auto fileBytes = image_->view(section.offset, section.size);
        if (!fileBytes || section.size > (1u << 24)) return SectionCheck::Differs;
        std::vector<std::uint8_t> dump(static_cast<std::size_t>(section.size));
        SpanRead read = readSpan(space_, address, dump.data(), dump.size());
        if (read == SpanRead::NoRegion) return SectionCheck::Differs;
        if (read == SpanRead::NoBytes) return SectionCheck::Unreadable;
        const common::ByteView dumpBytes(dump.data(), dump.size());
        bool same = section.type == kShtDynamic ? address == module_.dynamicAddress && dynamicSame(*fileBytes, dumpBytes)
                                                : arraySame(*fileBytes, dumpBytes);
        return same ? SectionCheck::Same : SectionCheck::Differs;
    }

    static bool dynamicSame(common::ByteView file, common::ByteView dump) {
        constexpr std::size_t entry = 2 * sizeof(TargetWord);
        for (std::size_t at = 0; at + entry <= file.size(); at += entry) {
            TargetWord tag = file.read<TargetWord>(at).value_or(0), value = file.read<TargetWord>(at + sizeof(TargetWord)).value_or(0);
            TargetWord dumpTag = dump.read<TargetWord>(at).value_or(0);
            TargetWord dumpValue = dump.read<TargetWord>(at + sizeof(TargetWord)).value_or(0);
            if (tag != dumpTag) return false;
            if (value != dumpValue && tag != kDtNeeded && tag != kDtDebug) return false;
        }
        return true;
    }

    bool arraySame(common::ByteView file, common::ByteView dump) const {
        if (module_.has(module_flag::kUnrelocatedArrays)) return std::memcmp(file.data(), dump.data(), file.size()) == 0;
        for (std::size_t at = 0; at + sizeof(TargetWord) <= file.size(); at += sizeof(TargetWord)) {
            TargetWord value = file.read<TargetWord>(at).value_or(0);
            if (value != 0 && value != ~TargetWord{0}) value += module_.loadBias;
            if (value != dump.read<TargetWord>(at).value_or(0)) return false;
        }
        return true;
    }

    // Step 8: the code itself, past the headers when the code shares their region.
    bool codeAgrees() {
        if (dumpCode_.empty()) return decideByBuildId();
        const TargetWord skip = module_.codeIsHeader() ? std::min<TargetWord>(module_.headersSize, module_.code.size) : 0;
        const TargetWord from = module_.code.start + skip;
        const TargetWord windowStart = module_.loadBias + static_cast<TargetWord>(module_.rx.vaddr);
        common::ByteView file;
        if (from >= windowStart) file = module_.rx.bytes.from(from - windowStart);
        const common::ByteView dump = dumpCode_.from(skip);
        CodeComparison comparison = compareCode(dump, file);
        if (comparison.identical || comparison.unexplained.empty()) return true;
        if (comparison.unexplained.size() == 1) {
            const DiffRun& run = comparison.unexplained.front();
            if (run.size() < kMaxDiffWords * 4 && from + run.begin != 0) printDiffBlock(from + run.begin, dump, file, run);
        }
        return decideByBuildId();
    }

    bool decideByBuildId() const { return fileBuildId_ == module_.buildId; }

    // The covering function (or data object) of the file's symbol table: "<name() + n>" / "<name + n>".
    std::string coveringSymbol(TargetWord fileAddress) const {
        const ElfImage* source = image_->symtabIndex() ? image_.get() : mini_.get();
        if (!source) return {};
        SymbolTable table = source->symbolTable();
        std::string function, object;
        std::uint64_t functionOffset = 0, objectOffset = 0;
        table.forEach([&](const Symbol& s) {
            std::uint64_t start = s.type() == 2 ? (s.value & ~std::uint64_t{1}) : s.value;
            if (s.name.empty() || s.size == 0 || fileAddress < start || fileAddress - start >= s.size) return 0;
            if (s.type() == 2 && function.empty()) {
                function = std::string(s.name);
                functionOffset = fileAddress - start;
            } else if (s.type() == 1 && object.empty()) {
                object = std::string(s.name);
                objectOffset = fileAddress - start;
            }
            return function.empty() ? 0 : 1;
        });
        if (!function.empty())
            return common::format("<%s() + %u>", function, static_cast<unsigned>(functionOffset)).text;
        if (!object.empty()) return common::format("<%s + %u>", object, static_cast<unsigned>(objectOffset)).text;
        return {};
    }

    void printDiffBlock(TargetWord address, common::ByteView dump, common::ByteView file, const DiffRun& run) const {
        auto words = [](common::ByteView bytes, const DiffRun& r) {
            std::string text;
            for (std::size_t at = r.begin; at < r.end; at += 4) {
                std::uint32_t value = 0;
                for (std::size_t i = 0; i < 4; ++i)
                    if (at + i < bytes.size()) value |= std::uint32_t{bytes.data()[at + i]} << (8 * i);
                text += common::format(" %08X", value).text;
            }
            return text;
        };
        const TargetWord fileAddress = address - module_.loadBias;
        std::string text = common::format(kIs64 ? ", 0x%016llX" : ", 0x%08X", address).text;
        text += coveringSymbol(fileAddress);
        text += common::format(" ++ %u:\ncoredump:\n   ", static_cast<unsigned>(run.size())).text;
        text += words(dump, run);
        text += common::format(kIs64 ? "\n%s(offset: 0x%llX):\n   " : "\n%s(offset: 0x%X):\n   ", module_.name,
                               fileAddress).text;
        text += words(file, run);
        text += "\n\n";
        console_.printMessage(kYellow, static_cast<int>(Msg::DiffRegion), "%s", text);
    }

    // Step 9: the file matched. Without line information it is kept when it has symbols or
    // the dump gave none; else it is dropped.
    void keep() {
        if (!hasDebugLine_) {
            if (!hasSymtab_ && module_.has(module_flag::kHeadersRead)) {
                console_.error(Msg::NoSymbolsIn, filePath());
                return;
            }
            console_.warning(Msg::NoSymbolsIn, filePath());
        }
        kept_ = true;
        module_.flags |= module_flag::kMatched;
        readModuleHeaders(context_, module_);
        mapSymbolTables();
    }

    // Step 10: another build. Kept for its symbols when the dump's tables can place its
    // functions; else dropped.
    void reject() {
        if (module_.has(module_flag::kHeadersRead) && hasSymtab_) {
            module_.flags |= module_flag::kFunctionMatch;
            console_.warning(Msg::NotMatchedFunctionMode, filePath());
            kept_ = true;
            mapSymbolTables();
            noteFileUnwindTables();
            return;
        }
        console_.error(Msg::UnmatchedLeaveSymbols, filePath());
    }

    void mapSymbolTables() {
        const ElfImage& file = *image_;
        if (auto index = file.symtabIndex()) {
            auto symtab = file.section(*index);
            auto strtab = symtab ? file.section(symtab->link) : std::nullopt;
            if (!symtab || !file.view(symtab->offset, symtab->size)) {
                console_.warning(Msg::FailToMap, file.name(), ".symtab");
            } else if (!strtab || !file.view(strtab->offset, strtab->size)) {
                console_.warning(Msg::FailToMap, file.name(), ".strtab");
            } else {
                module_.flags |= module_flag::kSymbolTables;
            }
        } else if (mini_ && !mini_->symbolTable().empty()) {
            module_.flags |= module_flag::kSymbolTables;
        }
    }

    void noteFileUnwindTables() {
        const ElfImage& file = *image_;
        if (auto eh = file.findSegment(0x6474E550)) {
            module_.fileUnwind.ehFrameHdr = static_cast<TargetWord>(eh->vaddr);
            module_.fileUnwind.ehFrameHdrSize = static_cast<TargetWord>(eh->memsz);
        }
        if (auto exidx = file.findSegment(kPtArmExidx); exidx && !kIs64) {
            module_.fileUnwind.exidx = static_cast<TargetWord>(exidx->vaddr);
            module_.fileUnwind.exidxCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(exidx->filesz / 8, ~0u));
        }
    }

    RunContext& context_;
    Console& console_;
    AddressSpace& space_;
    Module& module_;
    common::ByteView dumpCode_;
    std::vector<std::uint8_t> codeCopy_;
    std::unique_ptr<ElfImage> image_;
    std::unique_ptr<ElfImage> mini_;
    std::string fileBuildId_;
    bool hasSymtab_ = false, hasDebugLine_ = false, kept_ = false;
};

}  // namespace

void matchModule(RunContext& context, Module& module) {
    if (module.has(module_flag::kMatchRan) || !context.addressSpace) return;
    module.flags |= module_flag::kMatchRan;
    try {
        Matcher matcher(context, module);
        matcher.run();
        matcher.handOver();
    } catch (const std::bad_alloc&) {
        context.console.warning(Msg::OutOfMemory);
    }
}

}  // namespace coresift

// One loaded ELF object of the dead process (a library, the executable, the dynamic linker) and
// what the symbol look-ups and the unwinders take from it.
//
// What a look-up needs, and where it is:
//   - `loadBias` (TargetWord): dump address = file address + load bias.
//   - `flags`: 0x1 matching has run, 0x2 the symbol file matches the dump (it then also serves
//     the module's pages), 0x4 the dump's dynamic tables are usable (`dynamic` below), 0x8 the
//     symbol file's `.symtab` (or its MiniDebugInfo stand-in) is there, 0x20 function match mode
//     (the file is kept for symbols and unwind tables but is not the build that ran; translate
//     addresses with `toFileAddress` of module_list.h), 0x1000 its missing symbol file has been
//     reported.
//   - `symbols`: the module's symbol source (symbol_source.h, look-ups in symbol_lookup.h), made
//     when matching ends (module_symbols.h). It owns the matched (or, in function match mode,
//     kept) symbol file; `symbolImage()` is that file's ElfImage, null when there is none.
//   - `dynamic`: the dump-side `.dynsym`/`.dynstr` and SysV or GNU hash positions (dump
//     addresses), read from the dump's `.dynamic` (flag 0x40 says it was read).
//   - `unwind`: the dump-side `.eh_frame_hdr` (PT_GNU_EH_FRAME) and `.ARM.exidx`
//     (PT_ARM_EXIDX, with its entry count) positions. The tables' bytes are read through the
//     address space, which fills the module's missing pages from the matched file.
// Regions are looked up through the address space by address; a module keeps only the bounds of
// its header and code stretches, never pointers to regions (other walkers may split or merge them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/symbols/elf_image.h"
#include "analyzer/symbols/module_flags.h"
#include "analyzer/symbols/symbol_source.h"
#include "common/target_word.h"

namespace coresift {

// Where the module's unwind tables lie in the dump; 0: none.
struct DumpUnwindTables {
    TargetWord ehFrameHdr = 0, ehFrameHdrSize = 0;  // PT_GNU_EH_FRAME: address, p_memsz
    TargetWord exidx = 0;                           // PT_ARM_EXIDX address
    std::uint32_t exidxCount = 0;                   // its entries (p_filesz / 8)
};

// One load window of the symbol file: file bytes laid out as the loader maps them.
struct LoadWindow {
    bool present = false;
    std::uint64_t fileOffset = 0;  // where the window starts in the file
    std::uint64_t vaddr = 0;       // file address of the window's first byte
    std::uint64_t segmentVaddr = 0;   // p_vaddr of the load segment
    std::uint64_t alignedLength = 0;  // length rounded to p_align
    std::uint64_t pageLength = 0;     // length rounded to 4096
    common::ByteView bytes;        // the window's bytes in the file (at most alignedLength)
};

// A load segment collected while the module is created: page-aligned dump bounds and p_flags.
struct ModuleSegment {
    TargetWord start = 0, end = 0;
    std::uint32_t flags = 0;  // PF_X 1, PF_W 2, PF_R 4
};

struct FunctionMatchTables;  // built on the first translation in function match mode
struct ModuleSymbolSeams;

// A stretch of the module's regions: [start, start + size).
struct ModuleExtent {
    TargetWord start = 0, size = 0;
    TargetWord end() const { return start + size; }
    bool contains(TargetWord address) const { return address >= start && address - start < size; }
};

struct Module {
    TargetWord loadBias = 0;
    std::uint32_t flags = 0;
    std::string path;  // as the dynamic linker or the memory map gives it
    std::string name;  // the text after the last '/'
    TargetWord soinfo = 0;  // the linker's record of this library, 0 without one
    bool biasKnown = true;  // false until the memory-map fallback learns it (dump headers or file)

    ModuleExtent header;  // the regions holding the ELF header and program headers ("RO")
    ModuleExtent code;    // the regions of the first executable segment ("RX"); may be `header`
    std::vector<ModuleSegment> segments;

    TargetWord dynamicAddress = 0;  // PT_DYNAMIC or the linker record
    TargetWord headersSize = 0;     // bytes the code comparison skips when code is the header region
    std::string buildId;            // from the dump's notes, lowercase hexadecimal
    DumpDynamicTables dynamic;
    DumpUnwindTables unwind;

    // The symbol file's mapped load windows, and (in function match mode) its own tables.
    LoadWindow ro, rx;
    DumpUnwindTables fileUnwind;  // file addresses of the file's `.eh_frame_hdr` and `.ARM.exidx`
    std::shared_ptr<FunctionMatchTables> functionMatch;

    // Pages served past the end of the file (a window rounded up beyond it), kept for the run.
    std::vector<std::unique_ptr<std::uint8_t[]>> paddedPages;

    // What the symbol source borrows from the module (dump memory, unwind-table function
    // starts, function matching); declared before `symbols`, which must go first.
    std::unique_ptr<ModuleSymbolSeams> seams;
    std::unique_ptr<SymbolSource> symbols;

    Module();
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The kept symbol file; null when matching found none or dropped it.
    const ElfImage* symbolImage() const {
        return symbols && symbols->symbolFile() ? &symbols->symbolFile()->image() : nullptr;
    }
    bool has(std::uint32_t flag) const { return (flags & flag) != 0; }
    bool codeIsHeader() const { return code.start == header.start; }
};

// The text after the last '/' of a path.
std::string baseNameOf(const std::string& path);

}  // namespace coresift

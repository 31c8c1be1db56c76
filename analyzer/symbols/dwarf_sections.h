// The debugging-information sections of one symbol file, each as it is mapped or, when the file
// compresses it, as a decompressed copy owned here.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "analyzer/symbols/elf_image.h"
#include "common/byte_reader.h"

namespace coresift {

class Console;

enum class DebugSection : std::uint8_t {
    Info,
    Abbrev,
    Str,
    StrOffsets,
    Rnglists,
    Ranges,
    Loclists,
    Loc,
    Line,
    LineStr,
    Aranges,
    Addr,
    Types,
    Count
};

// The section name of each DebugSection (".debug_info", ...).
const char* debugSectionName(DebugSection section);

class DwarfSections {
public:
    DwarfSections() = default;
    DwarfSections(DwarfSections&&) = default;
    DwarfSections& operator=(DwarfSections&&) = default;

    // Maps every debug section `image` holds (decompressing SHF_COMPRESSED ones; a section that
    // cannot be mapped is reported by the image and left absent). The views stay valid while
    // `image` and this object live. A split-debugging object names its sections with the suffix
    // ".dwo" (".debug_info.dwo").
    static DwarfSections fromImage(Console& console, const ElfImage& image, std::string_view suffix = {});

    // Sets a section to bytes the caller keeps alive (tests, the fuzz target, other containers).
    void set(DebugSection section, common::ByteView bytes) { views_[index(section)] = bytes; }
    common::ByteView get(DebugSection section) const { return views_[index(section)]; }
    bool has(DebugSection section) const { return !get(section).empty(); }

private:
    static std::size_t index(DebugSection section) { return static_cast<std::size_t>(section); }

    std::array<common::ByteView, static_cast<std::size_t>(DebugSection::Count)> views_{};
    std::vector<std::unique_ptr<SectionBytes>> owned_;  // decompressed sections
};

}  // namespace coresift

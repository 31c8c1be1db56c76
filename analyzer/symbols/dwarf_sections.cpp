#include "analyzer/symbols/dwarf_sections.h"

#include <string>

namespace coresift {

const char* debugSectionName(DebugSection section) {
    static const char* const kNames[] = {".debug_info",     ".debug_abbrev",   ".debug_str",
                                         ".debug_str_offsets", ".debug_rnglists", ".debug_ranges",
                                         ".debug_loclists", ".debug_loc",      ".debug_line",
                                         ".debug_line_str", ".debug_aranges",  ".debug_addr",
                                         ".debug_types"};
    auto i = static_cast<std::size_t>(section);
    return i < std::size(kNames) ? kNames[i] : "";
}

DwarfSections DwarfSections::fromImage(Console& console, const ElfImage& image, std::string_view suffix) {
    DwarfSections sections;
    for (std::size_t i = 0; i < static_cast<std::size_t>(DebugSection::Count); ++i) {
        auto which = static_cast<DebugSection>(i);
        auto header = image.findSection(elf::kShtProgbits, std::string(debugSectionName(which)) + std::string(suffix));
        if (!header) continue;
        auto bytes = image.mapSection(console, *header);
        if (!bytes) continue;
        if (bytes->decompressed()) {
            auto owned = std::make_unique<SectionBytes>(std::move(*bytes));
            sections.set(which, owned->view());
            sections.owned_.push_back(std::move(owned));
        } else {
            sections.set(which, bytes->view());
        }
    }
    return sections;
}

}  // namespace coresift

#include "tools/decode/code_ranges.h"

#include <algorithm>
#include <map>

namespace decodetools {

std::vector<CodeRange> codeRanges(const ElfFile& elf, const char* sectionName) {
    std::vector<CodeRange> out;
    const Section* text = elf.find(sectionName);
    if (!text) return out;
    const common::ByteView bytes = elf.contents(*text);
    const bool a64 = elf.machine() == 183;
    const std::uint64_t start = text->address, end = text->address + bytes.size();

    // Kind of code from each mapping point on: 'a' ARM, 't' Thumb, 'x' A64, 'd' data.
    std::map<std::uint64_t, char> marks;
    bool haveMappingSymbols = false;
    const std::vector<Symbol> symbols = elf.symbols();
    for (const Symbol& s : symbols) {
        // "$a", "$t.1", ... (Android's linker renames its own to "__dl_$t.1").
        std::string name = s.name;
        if (name.rfind("__dl_", 0) == 0) name = name.substr(5);
        if (name.size() >= 2 && name[0] == '$' && (name.size() == 2 || name[2] == '.') &&
            std::string("atdx").find(name[1]) != std::string::npos && s.value >= start && s.value < end) {
            marks[s.value] = name[1];
            haveMappingSymbols = true;
        }
    }
    if (!haveMappingSymbols) {
        if (a64) {
            marks[start] = 'x';
        } else {
            // Functions only; the gaps between them (padding, pools) are left out.
            for (const Symbol& s : symbols) {
                if (s.type != 2 || s.size == 0) continue;
                const std::uint64_t at = s.value & ~1ull;
                if (at < start || at >= end) continue;
                marks[at] = (s.value & 1) ? 't' : 'a';
                if (!marks.count(at + s.size)) marks[at + s.size] = 'd';
            }
        }
    }
    for (auto it = marks.begin(); it != marks.end(); ++it) {
        const auto next = std::next(it);
        const std::uint64_t from = it->first, to = next == marks.end() ? end : std::min(next->first, end);
        if (it->second == 'd' || to <= from) continue;
        const Isa isa = it->second == 't' ? Isa::Thumb : it->second == 'a' ? Isa::Arm : Isa::A64;
        const std::uint64_t aligned = isa == Isa::Thumb ? (from + 1) & ~1ull : (from + 3) & ~3ull;
        if (aligned >= to) continue;
        auto view = bytes.sub(aligned - start, to - aligned);
        if (view) out.push_back({aligned, isa, *view});
    }
    return out;
}

}  // namespace decodetools

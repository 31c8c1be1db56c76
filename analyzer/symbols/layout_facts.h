// Layout facts: named structure members, sizes and enumerators of runtime libraries, resolved at
// run time from the debugging information of their symbol files.
//
// A fact table is a forest stored in an array: each fact names the next fact of its level
// (`next`) and, for a type, a namespace or a member whose type is followed, the first fact of
// the level below (`firstChild`). A group of facts is resolved in every unit whose name ends
// with one of the group's source file names.
//
// At one level, each child entry of the current entry is matched against the first unresolved
// fact of the level with the same tag and the same DW_AT_name (a missing name is the empty name,
// and an empty fact name matches an unnamed entry). A member fact also matches a variable entry
// (a static data member as DWARF 5 describes it); a type fact does not match a declaration. On a
// match:
//   - a named entry resolves the fact;
//   - a type or namespace fact (kFactScope) takes DW_AT_byte_size as its value when present, and
//     its child facts are resolved among the entry's children with base 0; if they fail, the
//     fact is unresolved again;
//   - any other fact takes base + DW_AT_data_member_location, else DW_AT_const_value
//     (enumerators), else DW_AT_byte_size, else the base. With kFactFollowType the entry's type
//     chain is followed to its end or to an enumeration type, and the child facts are resolved
//     among the children of the type reached with this fact's value as base (members of members
//     add up), or with base 0 when a pointer was passed on the way. An unnamed member (an
//     anonymous union or structure) stays unresolved and open for more such members: its own
//     members are matched against the facts of the current level, at its offset. A type that an
//     unnamed member further up is already opening is not opened again (only a damaged file
//     puts a structure inside itself).
// A level succeeds when every named fact of it without kFactOptional is resolved.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "analyzer/symbols/dwarf_info.h"

namespace coresift {

inline constexpr std::uint32_t kFactScope = 0x1, kFactFollowType = 0x2, kFactOptional = 0x8;

struct LayoutFact {
    std::uint32_t tag = 0;           // DW_TAG_* of the entry
    std::string_view name;           // its DW_AT_name ("" for an unnamed entry)
    std::uint32_t flags = 0;
    std::int32_t next = -1;          // next fact of the same level, -1 at the end
    std::int32_t firstChild = -1;    // first fact of the level below, -1 when there is none
    // Results.
    bool resolved = false;
    std::int64_t value = 0;          // offset, size or enumerator value
    Entry entry;                     // the entry that resolved it
};

// Clears the results of every fact.
void resetFacts(std::span<LayoutFact> facts);

// Resolves the level starting at fact `first` among the children of `parent`. Returns 0 when every
// required fact of the level is resolved, 1 otherwise.
int resolveFacts(const DwarfInfo& dwarf, const Entry& parent, std::span<LayoutFact> facts, std::int32_t first,
                 std::int64_t base);

// Resolves the group starting at `first` in every unit whose DW_AT_name ends with one of
// `fileNames`. Returns 0 when the group's level is resolved.
int resolveFactGroup(const DwarfInfo& dwarf, std::span<const std::string_view> fileNames,
                     std::span<LayoutFact> facts, std::int32_t first);

}  // namespace coresift

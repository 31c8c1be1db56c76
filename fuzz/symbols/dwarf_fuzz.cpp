// libFuzzer target: arbitrary bytes cut into debugging-information sections, then every reader
// of them: units and their entries with all attributes read by every class reader, ranges, the
// unit and scopes at addresses, line programs, expressions, layout facts and type texts.
//
// Input: byte 0 chooses the ELF class (bit 0) ; then 13 little-endian 16-bit lengths, one per
// section in DebugSection order; then the sections' bytes one after another (a length running
// past the input is cut). Each section is copied into a buffer of exactly its size, so that
// AddressSanitizer sees any read past its end.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "analyzer/driver/console.h"
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_expression.h"
#include "analyzer/symbols/dwarf_info.h"
#include "analyzer/symbols/layout_fact_table.h"
#include "analyzer/symbols/layout_facts.h"
#include "analyzer/symbols/line_table.h"
#include "analyzer/symbols/type_text.h"

namespace {

using namespace coresift;

constexpr std::size_t kSections = static_cast<std::size_t>(DebugSection::Count);
// Entries walked per input and per unit: every entry runs the same readers, so a hundred or so of
// each unit reach all of them, and a large unit does not starve the units after it.
constexpr int kMaxEntries = 512;
constexpr int kMaxUnitEntries = 128;
// Addresses looked up (unit, scope, line): the first low_pc values found, not every one.
constexpr std::size_t kMaxAddresses = 64;

Console& quietConsole() {
    static MessageCatalog catalog;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    static Console console(sink, sink, catalog);
    return console;
}

// Reads the fuzz input's bytes as dump memory for expressions.
class InputMemory final : public decode::TargetMemory {
public:
    explicit InputMemory(common::ByteView bytes) : bytes_(bytes) {}
    bool read(TargetWord address, void* out, std::size_t size) const override {
        auto range = bytes_.sub(address & 0xFFFF, size);
        if (!range) return false;
        std::copy(range->data(), range->data() + size, static_cast<std::uint8_t*>(out));
        return true;
    }

private:
    common::ByteView bytes_;
};

struct Exerciser {
    const DwarfInfo& dwarf;
    const InputMemory& memory;
    std::vector<std::uint64_t> addresses{0, 0x1000, 0x8000, 0x10000, ~std::uint64_t{0}};
    int entries = 0;
    int unitEntries = 0;

    void expression(common::ByteView code, const Unit& unit) {
        ExpressionContext context;
        context.addressSize = unit.header.addressSize;
        context.reg = [](unsigned n) -> std::optional<std::uint64_t> { return n < 16 ? std::optional<std::uint64_t>(n * 0x100) : std::nullopt; };
        context.entryValue = context.reg;
        context.memory = &memory;
        context.frameBase = 0x2000;
        context.cfa = 0x3000;
        context.dwarf = &dwarf;
        context.unit = &unit;
        if (auto location = evaluateExpression(code, context)) locationValue(*location, 4, context);
    }

    void attributes(const Entry& entry) {
        dwarf.forEachAttribute(entry, [&](const AttributeValue& v) {
            switch (v.name) {
            case dw::kAtName: case dw::kAtLinkageName: case dw::kAtCompDir: dwarf.textOf(*entry.unit, v); break;
            case dw::kAtLowPc:
                if (auto a = dwarf.addressOf(*entry.unit, v); a && addresses.size() < kMaxAddresses) addresses.push_back(*a);
                break;
            case dw::kAtType: case dw::kAtAbstractOrigin: case dw::kAtSpecification: dwarf.referenceOf(*entry.unit, v); break;
            case dw::kAtLocation: case dw::kAtFrameBase: case dw::kAtDataMemberLocation:
                if (v.form == dw::kFormExprloc || v.form == dw::kFormBlock1) expression(v.bytes, *entry.unit);
                else dwarf.constantOf(v);
                break;
            default: dwarf.constantOf(v); break;
            }
        });
        dwarf.forEachRange(entry, [](std::uint64_t, std::uint64_t) { return false; });
        Entry type = dwarf.typeOf(entry);
        if (type && entries % 16 == 0) renderType(dwarf, type);
    }

    void walk(const Entry& parent, int depth) {
        for (Entry child = dwarf.firstChild(parent); child && entries < kMaxEntries && unitEntries < kMaxUnitEntries;
             child = dwarf.nextSibling(child)) {
            ++entries;
            ++unitEntries;
            attributes(child);
            if (depth < 32) walk(child, depth + 1);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 + 2 * kSections) return 0;
    const ElfClass elfClass = data[0] & 1 ? ElfClass::Elf64 : ElfClass::Elf32;
    std::vector<std::vector<std::uint8_t>> buffers(kSections);
    std::size_t at = 1 + 2 * kSections;
    DwarfSections sections;
    for (std::size_t i = 0; i < kSections; ++i) {
        std::size_t length = data[1 + 2 * i] | (data[2 + 2 * i] << 8);
        if (length > size - at) length = size - at;
        buffers[i].assign(data + at, data + at + length);
        at += length;
        sections.set(static_cast<DebugSection>(i), common::ByteView(buffers[i].data(), buffers[i].size()));
    }
    auto dwarf = DwarfInfo::make(quietConsole(), std::move(sections), elfClass);
    if (!dwarf) return 0;
    InputMemory memory(common::ByteView(data, size));
    Exerciser exercise{*dwarf, memory};
    for (const Unit& unit : dwarf->units()) {
        Entry top = dwarf->unitEntry(unit);
        exercise.unitEntries = 0;
        exercise.attributes(top);
        exercise.walk(top, 0);
        dwarf->endOfSubtree(top);
        LayoutFact facts[3];
        facts[0] = {dw::kTagStructureType, "", kFactScope, -1, 1};
        facts[1] = {dw::kTagMember, "", kFactFollowType, 2, 1};
        facts[2] = {dw::kTagMember, "x", kFactOptional, -1, 0};
        resolveFacts(*dwarf, top, facts, 0, 0);
        if (unit.index > 64) break;
    }
    for (std::uint64_t address : exercise.addresses) {
        Entry unit = dwarf->unitAt(address);
        if (unit) {
            Entry scope = dwarf->scopeAt(*unit.unit, address);
            dwarf->lowestAddress(scope);
        }
        dwarf->lineTables().lineAt(address);
    }
    dwarf->lineTables().fileOf(0, 1);
    // The table's rows are fixed: it is made once, and each group's facts are reset by resolve().
    static LayoutFactTable table;
    for (int group = 0; group < kFactGroupCount; ++group) table.resolve(static_cast<FactGroup>(group), *dwarf);
    table.arrayLength(Fact::kCacheEntries);
    table.unresolvedPath(FactGroup::kArt);
    dwarf->findTopLevel(dw::kTagStructureType, "x");
    return 0;
}

#include "tests/symbols/elf_exercise.h"

namespace testsupport {
namespace {

std::uint64_t touch(common::ByteView bytes) {
    std::uint64_t sum = bytes.size();
    if (!bytes.empty()) sum += bytes.data()[0] + bytes.data()[bytes.size() - 1] + bytes.data()[bytes.size() / 2];
    return sum;
}

void exerciseSymbols(const coresift::SymbolTable& table, std::uint64_t& count, std::uint64_t& checksum) {
    table.forEach([&](const coresift::Symbol& s) {
        ++count;
        checksum += s.value + s.size + s.name.size() + (s.name.empty() ? 0 : static_cast<unsigned char>(s.name.back()));
        return 0;
    });
}

void exercise(coresift::Console& console, const coresift::ElfImage& image, ExerciseCounts& c, bool nested) {
    c.checksum += image.headersSize() + image.type() + image.entry();
    for (std::uint32_t i = 0; i < image.sectionCount(); ++i) {
        auto section = image.section(i);
        if (!section) continue;
        c.checksum += section->name.size();
        if (auto bytes = image.mapSection(console, *section)) {
            ++c.sectionsMapped;
            c.checksum += touch(bytes->view());
        }
    }
    if (image.sectionCount() > 0) image.findSection(coresift::elf::kShtProgbits, ".text");
    for (std::uint32_t i = 0; i < image.segmentCount(); ++i)
        if (auto segment = image.segment(i))
            if (auto bytes = image.segmentBytes(*segment)) c.checksum += touch(*bytes);
    image.forEachLoad([&](const coresift::ProgramHeader& p) {
        ++c.loads;
        c.checksum += p.vaddr + p.offset;
        return 0;
    });
    image.forEachNote(console, [&](const coresift::Note& n) {
        ++c.notes;
        c.checksum += n.type + touch(n.nameBytes) + touch(n.desc) + n.name.size();
        return 0;
    });
    c.checksum += image.buildId(console).size();
    exerciseSymbols(image.symbolTable(), c.symbols, c.checksum);
    exerciseSymbols(image.symbolTable(coresift::elf::kShtDynsym), c.symbols, c.checksum);
    if (nested) return;  // a MiniDebugInfo image is not searched for another one
    if (auto mini = image.miniDebugInfo(console)) {
        ExerciseCounts inner;
        exercise(console, *mini, inner, true);
        c.miniDebugInfoSymbols += inner.symbols;
        c.checksum += inner.checksum;
    }
}

}  // namespace

ExerciseCounts exerciseElfImage(coresift::Console& console, const coresift::ElfImage& image) {
    ExerciseCounts counts;
    exercise(console, image, counts, false);
    return counts;
}

}  // namespace testsupport

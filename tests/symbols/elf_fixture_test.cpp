// The ELF reader against binutils on real files: sections, program headers, notes, build-ids and
// symbols agree with `readelf -W`; compressed sections decompress to what `objcopy
// --decompress-debug-sections` gives; MiniDebugInfo yields the symbols readelf shows after `xz -d`.
// Each build checks the files of its own class (ARM in CoreSift, AArch64 in CoreSift64).
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "analyzer/symbols/decompress.h"
#include "tests/support/temp_folder.h"
#include "tests/symbols/elf_fixtures.h"
#include "tests/symbols/elf_test_support.h"
#include "tests/symbols/readelf_oracle.h"

namespace {

namespace fs = std::filesystem;
namespace elf = coresift::elf;
using coresift::ElfImage;
using coresift::kTargetElfClass;
using testsupport::FixtureFile;
using testsupport::runCommand;
using testsupport::shellQuote;

constexpr unsigned kAnyType = 0x1F;

// Counts of compared items and the disagreements found, per fixture set.
struct Tally {
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> items;  // kind -> (agreed, compared)
    std::map<std::string, std::uint64_t> skipped;  // items readelf cannot be compared on, and why
    std::vector<std::string> problems;
    std::uint64_t files = 0;

    void check(const std::string& kind, bool agrees, const std::string& what) {
        auto& [agreed, compared] = items[kind];
        ++compared;
        if (agrees) ++agreed;
        else if (problems.size() < 40) problems.push_back(what);
    }
    std::string summary() const {
        std::ostringstream out;
        out << files << " files";
        for (const auto& [kind, counts] : items) out << "; " << kind << " " << counts.first << "/" << counts.second;
        for (const auto& [why, count] : skipped) out << "; skipped: " << count << " " << why;
        return out.str();
    }
};

std::string readelf(const fs::path& file, const char* options) {
    return runCommand(testsupport::readelfProgram() + " -W " + options + " " + shellQuote(file.string())).value_or("");
}

std::string flagLetters(std::uint64_t flags) {
    static const std::pair<std::uint64_t, char> kLetters[] = {{0x1, 'W'}, {0x2, 'A'}, {0x4, 'X'}, {0x10, 'M'},
                                                              {0x20, 'S'}, {0x40, 'I'}, {0x80, 'L'}, {0x200, 'G'},
                                                              {0x400, 'T'}, {0x800, 'C'}};
    std::string out;
    for (const auto& [bit, letter] : kLetters)
        if (flags & bit) out += letter;
    return out;
}

std::string knownLetters(const std::string& readelfFlags) {
    std::string out;
    for (char c : std::string("WAXMSILGTC"))
        if (readelfFlags.find(c) != std::string::npos) out += c;
    return out;
}

// "<OS specific>: 10" and the like carry the value itself.
std::optional<unsigned> unnamedValue(const std::string& t) {
    auto colon = t.find(">: ");
    if (t.empty() || t[0] != '<' || colon == std::string::npos) return std::nullopt;
    return static_cast<unsigned>(std::stoul(t.substr(colon + 3)));
}

std::optional<unsigned> symbolTypeValue(const std::string& t) {
    if (auto v = unnamedValue(t)) return v;
    static const std::map<std::string, unsigned> k = {{"NOTYPE", 0}, {"OBJECT", 1}, {"FUNC", 2}, {"SECTION", 3},
                                                      {"FILE", 4},   {"COMMON", 5}, {"TLS", 6},  {"IFUNC", 10}};
    auto it = k.find(t);
    return it == k.end() ? std::nullopt : std::optional<unsigned>(it->second);
}

std::optional<unsigned> symbolBindValue(const std::string& b) {
    if (auto v = unnamedValue(b)) return v;
    static const std::map<std::string, unsigned> k = {{"LOCAL", 0}, {"GLOBAL", 1}, {"WEAK", 2}, {"UNIQUE", 10}};
    auto it = k.find(b);
    return it == k.end() ? std::nullopt : std::optional<unsigned>(it->second);
}

// readelf names a section symbol (STT_SECTION, no name of its own) after its section.
std::string shownName(const ElfImage& image, const coresift::Symbol& s) {
    if (s.type() != 3 || s.nameOffset != 0) return std::string(s.name);
    auto section = image.section(s.shndx);
    return section ? std::string(section->name) : "";
}

void compareSymbols(const ElfImage& image, const coresift::SymbolTable& ours, const testsupport::RefSymbolTable& theirs,
                    const std::string& where, Tally& tally) {
    tally.check("symbol tables", ours.count() == theirs.declaredCount && theirs.symbols.size() == theirs.declaredCount,
                where + ": " + std::to_string(ours.count()) + " symbols, readelf " + std::to_string(theirs.declaredCount));
    for (std::size_t i = 0; i < theirs.symbols.size() && i < ours.count(); ++i) {
        auto s = ours.at(static_cast<std::uint32_t>(i));
        const auto& r = theirs.symbols[i];
        auto type = symbolTypeValue(r.type);
        auto bind = symbolBindValue(r.bind);
        bool agrees = s && shownName(image, *s) == r.name && s->value == r.value && s->size == r.size &&
                      (!type || *type == s->type()) && (!bind || *bind == s->bind());
        tally.check("symbols", agrees, where + " #" + std::to_string(i) + " '" + r.name + "' vs '" +
                                           (s ? std::string(s->name) : "?") + "'");
    }
}

void compareWithReadelf(coresift::Console& console, const FixtureFile& file, Tally& tally) {
    ++tally.files;
    const unsigned digits = kTargetElfClass == coresift::ElfClass::Elf64 ? 16 : 8;
    auto image = ElfImage::open(console, coresift::MappedFile::open(file.path.string()), kAnyType);
    tally.check("opened", image != nullptr, file.label + ": not opened");
    if (!image) return;

    auto sections = testsupport::parseSections(readelf(file.path, "-S"), digits);
    tally.check("section tables", sections.size() == image->sectionCount(),
                file.label + ": " + std::to_string(image->sectionCount()) + " sections, readelf " + std::to_string(sections.size()));
    for (const auto& r : sections) {
        auto s = image->section(r.index);
        auto type = testsupport::sectionTypeValue(r.type);
        bool agrees = s && s->name == r.name && (!type || *type == s->type) && s->addr == r.addr &&
                      s->offset == r.offset && s->size == r.size && flagLetters(s->flags) == knownLetters(r.flags);
        tally.check("sections", agrees, file.label + " section [" + std::to_string(r.index) + "] " + r.name);
        if (!type) tally.check("section type names known", false, file.label + ": readelf type " + r.type);
    }

    auto segments = testsupport::parseSegments(readelf(file.path, "-l"));
    tally.check("program header tables", segments.size() == image->segmentCount(),
                file.label + ": " + std::to_string(image->segmentCount()) + " program headers, readelf " + std::to_string(segments.size()));
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& r = segments[i];
        auto p = image->segment(static_cast<std::uint32_t>(i));
        auto type = testsupport::segmentTypeValue(r.type);
        std::string flags = std::string(p && (p->flags & 4) ? "R" : "") + (p && (p->flags & 2) ? "W" : "") + (p && (p->flags & 1) ? "E" : "");
        bool agrees = p && (!type || *type == p->type) && p->offset == r.offset && p->vaddr == r.vaddr &&
                      p->paddr == r.paddr && p->filesz == r.filesz && p->memsz == r.memsz && flags == r.flags &&
                      p->align == r.align;
        tally.check("program headers", agrees, file.label + " program header " + std::to_string(i) + " " + r.type);
    }

    // Notes: ours are those of the last PT_NOTE segment; readelf lists cores by segment and other
    // files by note section, so take the sections that lie inside that segment.
    std::string readelfBuildId;
    auto groups = testsupport::parseNotes(readelf(file.path, "-n"), &readelfBuildId);
    std::vector<testsupport::RefNote> expected;
    auto last = image->findSegment(elf::kPtNote);
    bool comparable = true;
    if (last) {
        bool covered = false;
        for (const auto& g : groups) {
            bool inside = false;
            if (g.segmentOffset) {
                inside = *g.segmentOffset == last->offset;
            } else {
                for (const auto& s : sections) {
                    if (s.name != g.section || s.offset < last->offset || s.offset >= last->offset + last->filesz) continue;
                    inside = true;
                    covered = covered || s.offset == last->offset;
                }
            }
            if (inside) expected.insert(expected.end(), g.notes.begin(), g.notes.end());
            covered = covered || (inside && g.segmentOffset);
        }
        // A segment that does not start at a note section (sections moved after linking) holds
        // other bytes than the sections readelf shows.
        comparable = covered;
    }
    if (!comparable) ++tally.skipped["note segments that start at no note section"];
    std::vector<testsupport::RefNote> ours;
    image->forEachNote(console, [&](const coresift::Note& n) {
        ours.push_back({std::string(n.name), n.desc.size()});
        return 0;
    });
    bool notesAgree = ours.size() == expected.size();
    for (std::size_t i = 0; notesAgree && i < ours.size(); ++i)
        notesAgree = ours[i].owner == expected[i].owner && ours[i].descsz == expected[i].descsz;
    if (comparable) tally.check("note segments", notesAgree, file.label + ": " + std::to_string(ours.size()) + " notes, readelf " + std::to_string(expected.size()));
    if (comparable) {
        tally.items["notes"].first += notesAgree ? ours.size() : 0;
        tally.items["notes"].second += expected.size();
    }
    std::string ourId = image->buildId(console);
    tally.check("build-ids", ourId == readelfBuildId, file.label + ": build-id " + ourId + " vs " + readelfBuildId);

    for (const auto& table : testsupport::parseSymbols(readelf(file.path, "-s"))) {
        std::uint32_t type = table.section == ".dynsym" ? elf::kShtDynsym : elf::kShtSymtab;
        if (table.section != ".dynsym" && table.section != ".symtab") continue;
        compareSymbols(*image, image->symbolTable(type), table, file.label + " " + table.section, tally);
    }

    // The same bytes as an in-memory image give the same tables.
    auto memory = ElfImage::openMemory(image->bytes(), file.label);
    tally.check("in-memory opens", memory && memory->sectionCount() == image->sectionCount() &&
                                       memory->segmentCount() == image->segmentCount(), file.label + ": in-memory image differs");
}

class ElfFixtures : public testing::Test {
protected:
    void SetUp() override {
        if (testsupport::readelfProgram().empty()) GTEST_SKIP() << "readelf is not installed";
        if (testsupport::sharedFixtures().empty() && testsupport::ownElfFixtures().empty())
            GTEST_SKIP() << "no fixtures: ../shared/fixtures is absent and the cross-compiled ones were not built";
        run.context().catalog.selectEnglish();
    }
    coresift::Console& console() { return run.context().console; }
    static const char* className() { return kTargetElfClass == coresift::ElfClass::Elf64 ? "AArch64" : "ARM"; }
    testsupport::RunCapture run;
};

TEST_F(ElfFixtures, TablesNotesAndSymbolsAgreeWithReadelf) {
    std::map<std::string, Tally> tallies;
    for (const auto& file : testsupport::wellFormedElfFiles(kTargetElfClass)) compareWithReadelf(console(), file, tallies[file.set]);
    ASSERT_FALSE(tallies.empty());
    for (const auto& [set, tally] : tallies) {
        std::cout << "readelf agreement, " << set << " (" << className() << "): " << tally.summary() << "\n";
        for (const auto& problem : tally.problems) ADD_FAILURE() << set << ": " << problem;
    }
    EXPECT_EQ(run.err(), "");
}

// Sections with SHF_COMPRESSED in `image`.
std::vector<coresift::SectionHeader> compressedSections(const ElfImage& image) {
    std::vector<coresift::SectionHeader> out;
    for (std::uint32_t i = 0; i < image.sectionCount(); ++i)
        if (auto s = image.section(i); s && (s->flags & elf::kShfCompressed)) out.push_back(*s);
    return out;
}

// The contents of section `name` of `file` as objcopy dumps them.
std::optional<std::string> objcopySection(const fs::path& file, const std::string& name, const fs::path& scratch) {
    fs::path dump = scratch / "section.bin";
    fs::remove(dump);
    if (!runCommand("objcopy --dump-section " + shellQuote(name + "=" + dump.string()) + " " + shellQuote(file.string()) +
                    " " + shellQuote((scratch / "unused.o").string())))
        return std::nullopt;
    return testsupport::readFile(dump);
}

TEST_F(ElfFixtures, CompressedSectionsMatchObjcopy) {
    testsupport::TempFolder scratch;
    std::uint64_t compared = 0, agreed = 0, files = 0;
    for (const auto& file : testsupport::wellFormedElfFiles(kTargetElfClass)) {
        auto image = ElfImage::open(console(), coresift::MappedFile::open(file.path.string()), kAnyType);
        ASSERT_TRUE(image) << file.label;
        auto sections = compressedSections(*image);
        if (sections.empty()) continue;
        ++files;
        fs::path plain = scratch.path() / "decompressed.elf";
        bool objcopyOk = runCommand("objcopy --decompress-debug-sections " + shellQuote(file.path.string()) + " " +
                                    shellQuote(plain.string())).has_value();
        if (file.path.filename() == "elf_bad_compress") {
            // A zlib stream that neither objcopy nor we can inflate.
            EXPECT_FALSE(objcopyOk);
            for (const auto& s : sections) EXPECT_FALSE(image->mapSection(console(), s));
            EXPECT_EQ(run.err(), "Error: Fail to unzip " + file.path.string() + "(.debug_frame)\n");
            continue;
        }
        ASSERT_TRUE(objcopyOk) << file.label;
        for (const auto& s : sections) {
            auto ours = image->mapSection(console(), s);
            auto theirs = objcopySection(plain, std::string(s.name), scratch.path());
            ++compared;
            bool same = ours && theirs && ours->decompressed() &&
                        std::string(reinterpret_cast<const char*>(ours->view().data()), ours->size()) == *theirs;
            agreed += same;
            EXPECT_TRUE(same) << file.label << " " << s.name;
        }
    }
    std::cout << "compressed sections equal to objcopy's (" << className() << "): " << agreed << "/" << compared
              << " in " << files << " files\n";
    EXPECT_GT(compared, 0u);
}

// The symbols readelf shows in the .symtab of an image file.
std::optional<testsupport::RefSymbolTable> readelfSymtab(const fs::path& file) {
    for (auto& table : testsupport::parseSymbols(readelf(file, "-s")))
        if (table.section == ".symtab") return table;
    return std::nullopt;
}

TEST_F(ElfFixtures, MiniDebugInfoSymbolsMatchReadelfAfterXz) {
    testsupport::TempFolder scratch;
    Tally tally;
    for (const auto& file : testsupport::wellFormedElfFiles(kTargetElfClass)) {
        auto image = ElfImage::open(console(), coresift::MappedFile::open(file.path.string()), kAnyType);
        ASSERT_TRUE(image);
        if (!image->findSection(elf::kShtProgbits, ".gnu_debugdata")) continue;
        ++tally.files;
        auto packed = objcopySection(file.path, ".gnu_debugdata", scratch.path());
        ASSERT_TRUE(packed) << file.label;
        fs::path xz = scratch.path() / "debugdata.xz", inner = scratch.path() / "debugdata.elf";
        std::ofstream(xz, std::ios::binary) << *packed;
        ASSERT_TRUE(testsupport::runCommandInto("xz -dc " + shellQuote(xz.string()), inner.string())) << file.label;
        auto expected = readelfSymtab(inner);
        ASSERT_TRUE(expected) << file.label;
        auto mini = image->miniDebugInfo(console());
        ASSERT_TRUE(mini) << file.label;
        compareSymbols(*mini, mini->symbolTable(), *expected, file.label + " .gnu_debugdata", tally);
    }
    // The raw XZ variants of boot_arm.oat's MiniDebugInfo: one block, odd block sizes, several blocks.
    fs::path elfFiles = testsupport::sharedFixtures() / "unwindstack-offline/elf-files";
    if (kTargetElfClass == coresift::ElfClass::Elf32 && fs::exists(elfFiles)) {
        std::string plain = testsupport::readFile(elfFiles / "boot_arm.oat.gnu_debugdata");
        auto expected = readelfSymtab(elfFiles / "boot_arm.oat.gnu_debugdata");
        ASSERT_TRUE(expected);
        for (const char* variant : {".xz", ".xz.non-power", ".xz.odd-sizes", ".xz.one-block"}) {
            std::string packed = testsupport::readFile(elfFiles / ("boot_arm.oat.gnu_debugdata" + std::string(variant)));
            auto result = coresift::decompressXz(common::ByteView(reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size()));
            ASSERT_EQ(result.error, coresift::DecompressError::None) << variant;
            tally.check("xz variants", std::string(result.bytes.begin(), result.bytes.end()) == plain, variant);
            auto image = ElfImage::openOwnedMemory(std::move(result.bytes), variant);
            ASSERT_TRUE(image);
            compareSymbols(*image, image->symbolTable(), *expected, std::string("boot_arm.oat.gnu_debugdata") + variant, tally);
        }
    }
    std::cout << "MiniDebugInfo agreement (" << className() << "): " << tally.summary() << "\n";
    for (const auto& problem : tally.problems) ADD_FAILURE() << problem;
    EXPECT_GT(tally.files, 0u);
    EXPECT_EQ(run.err(), "");
}

}  // namespace

// Hostile and damaged ELF files: Android's deliberately malformed libraries, and truncated or
// corrupted variants of real files. Each gives a clear message or opens, and every read
// operation on what opened stays safe (this file runs under AddressSanitizer in scripts/test).
#include <random>
#include <sstream>

#include "tests/support/temp_folder.h"
#include "tests/symbols/elf_exercise.h"
#include "tests/symbols/elf_fixtures.h"
#include "tests/symbols/elf_test_support.h"

namespace {

namespace fs = std::filesystem;
namespace elf = coresift::elf;
using coresift::ElfImage;
using coresift::kTargetElfClass;
using testsupport::Bytes;

constexpr unsigned kAnyType = 0x1F;

Bytes fileBytes(const fs::path& path) {
    std::string text = testsupport::readFile(path);
    return Bytes(text.begin(), text.end());
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// Every message the reader may print about a damaged file.
bool isReaderMessage(const std::string& line) {
    return (startsWith(line, "Warning: ") && has(line, " fail to map ")) ||
           (startsWith(line, "Error: File ") && endsWith(line, " damaged")) ||
           (startsWith(line, "Error: '") && has(line, "' isn't ") && endsWith(line, " ELF file")) ||
           (startsWith(line, "Error: Don't support ") && has(line, " format of ELF file(")) ||
           (startsWith(line, "Error: DON't support compress section: ") &&
            line.find_first_not_of("-0123456789", 39) == std::string::npos) ||
           startsWith(line, "Error: Fail to unzip ") ||
           (startsWith(line, "Error: build-id(") && endsWith(line, ") is too long")) || line == "Error: Out of memory";
}

class ElfMalformed : public testing::Test {
protected:
    void SetUp() override { run.context().catalog.selectEnglish(); }
    coresift::Console& console() { return run.context().console; }

    // Opens `bytes` as a file image and as an in-memory image and reads everything from both.
    // Returns whether the file image opened.
    bool openAndExercise(const Bytes& bytes, const std::string& name) {
        auto image = ElfImage::open(console(), coresift::MappedFile::fromBuffer(name, bytes), kAnyType);
        if (image) testsupport::exerciseElfImage(console(), *image);
        auto memory = ElfImage::openMemory(common::ByteView(bytes.data(), bytes.size()), name);
        if (memory) testsupport::exerciseElfImage(console(), *memory);
        return image != nullptr;
    }

    // Every line printed since the last call, checked against the reader's message forms.
    void expectOnlyReaderMessages(const std::string& context) {
        std::string err = run.err();
        std::istringstream lines(err.substr(consumed_));
        consumed_ = err.size();
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(isReaderMessage(line)) << context << ": unexpected output: " << line;
    }

    testsupport::RunCapture run;
    std::size_t consumed_ = 0;
};

TEST_F(ElfMalformed, AndroidsMalformedLibrariesAreRejectedOrReadSafely) {
    auto files = testsupport::malformedElfFiles(kTargetElfClass);
    if (files.empty()) GTEST_SKIP() << "../shared/fixtures/bionic-prebuilt-elf is absent";
    const std::map<std::string, std::string> kRejected = {
        {"libtest_invalid-unaligned_shdr_offset.so", "Warning: %s fail to map shdr table\n"},
        {"libtest_invalid-zero_shdr_table_offset.so", "Error: File %s damaged\n"}};
    for (const auto& file : files) {
        std::size_t before = run.err().size();
        auto image = ElfImage::open(console(), coresift::MappedFile::open(file.path.string()), elf::kSymbolFileTypes);
        std::string printed = run.err().substr(before);
        auto rejected = kRejected.find(file.path.filename().string());
        if (rejected != kRejected.end()) {
            EXPECT_FALSE(image) << file.label;
            std::string expected = rejected->second;
            expected.replace(expected.find("%s"), 2, file.path.string());
            EXPECT_EQ(printed, expected) << file.label;
            continue;
        }
        ASSERT_TRUE(image) << file.label << ": " << printed;
        EXPECT_EQ(printed, "") << file.label;
        testsupport::exerciseElfImage(console(), *image);
        std::string name = file.path.filename().string();
        if (name == "libtest_invalid-empty_shdr_table.so") {
            EXPECT_EQ(image->sectionCount(), 0u);
            EXPECT_GT(image->segmentCount(), 0u);
        }
        if (name == "libtest_invalid-zero_shstrndx.so") {
            EXPECT_FALSE(image->findSection(elf::kShtProgbits, ".text"));  // no names without a name table
            EXPECT_EQ(image->section(1)->name, "");
        }
    }
    expectOnlyReaderMessages("bionic");
}

std::uint64_t sectionTableOffset(const Bytes& bytes) {
    common::ByteView v(bytes.data(), bytes.size());
    return kTargetElfClass == coresift::ElfClass::Elf64 ? v.read<std::uint64_t>(0x28).value_or(0)
                                                        : v.read<std::uint32_t>(0x20).value_or(0);
}

std::uint64_t sectionTableSize(const ElfImage& image) {
    return std::uint64_t{image.sectionCount()} * (kTargetElfClass == coresift::ElfClass::Elf64 ? 64 : 40);
}

// A few real files of this build's class.
std::vector<testsupport::FixtureFile> damageSources() {
    std::vector<testsupport::FixtureFile> out;
    for (const auto& file : testsupport::wellFormedElfFiles(kTargetElfClass)) {
        std::string name = file.path.filename().string();
        bool wanted = file.set == "own cross-compiled" ? name != "fixture_static"
                                                       : (name == "libc_zstd.so" || name == "elf_bad_compress" ||
                                                          file.label == "pauth_pc_arm64/libc.so.gz" || name.find("core") != std::string::npos);
        if (wanted) out.push_back(file);
    }
    return out;
}

TEST_F(ElfMalformed, TruncatedFilesFailWithAMessageOrReadSafely) {
    auto sources = damageSources();
    if (sources.empty()) GTEST_SKIP() << "no real files of this class (fixtures absent, cross compilers missing)";
    const std::uint64_t headerSize = kTargetElfClass == coresift::ElfClass::Elf64 ? 64 : 52;
    std::uint64_t variants = 0, opened = 0;
    for (const auto& source : sources) {
        Bytes whole = fileBytes(source.path);
        auto image = ElfImage::open(console(), coresift::MappedFile::fromBuffer(source.label, whole), kAnyType);
        ASSERT_TRUE(image) << source.label;
        // Cut at the edges of the header, the tables and every section, and at a spread of points.
        std::vector<std::uint64_t> cuts = {0, 1, 4, 16, headerSize - 1, headerSize, image->headersSize() - 1,
                                           image->headersSize(), whole.size() - 1};
        for (std::uint32_t i = 0; i < image->sectionCount(); ++i) {
            auto s = image->section(i);
            for (std::uint64_t edge : {s->offset, s->offset + 1, s->offset + s->size - 1})
                if (edge < whole.size()) cuts.push_back(edge);
        }
        for (std::uint64_t k = 1; k < 24; ++k) cuts.push_back(whole.size() * k / 24);
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        for (std::uint64_t cut : cuts) {
            Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            std::size_t before = run.err().size();
            bool ok = openAndExercise(part, source.label);
            ++variants;
            opened += ok;
            std::string printed = run.err().substr(before);
            if (cut < headerSize) {
                EXPECT_EQ(printed.rfind("Warning: " + source.label + " fail to map elf header\n", 0), 0u);
            }
            // A file that lost the end of its section table never opens, and every failed open says why.
            std::uint64_t tableEnd = sectionTableOffset(whole) + sectionTableSize(*image);
            if (image->sectionCount() > 0 && cut < tableEnd) {
                EXPECT_FALSE(ok) << source.label << " cut at " << cut;
            }
            if (!ok) {
                EXPECT_NE(printed, "") << source.label << " cut at " << cut;
            }
        }
        expectOnlyReaderMessages(source.label);
    }
    std::cout << "truncated variants: " << variants << " (" << opened << " opened and read safely)\n";
}

TEST_F(ElfMalformed, CorruptedHeadersAndTablesAreReadSafely) {
    auto sources = damageSources();
    if (sources.empty()) GTEST_SKIP() << "no real files of this class (fixtures absent, cross compilers missing)";
    std::mt19937_64 random(20240607);
    std::uint64_t variants = 0, opened = 0;
    for (const auto& source : sources) {
        Bytes whole = fileBytes(source.path);
        auto image = ElfImage::open(console(), coresift::MappedFile::fromBuffer(source.label, whole), kAnyType);
        ASSERT_TRUE(image);
        // The places a parser trusts: header, program headers, section headers, notes, the
        // symbol table, compression headers.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> regions = {{4, image->headersSize() - 4}};
        for (std::uint32_t i = 0; i < image->sectionCount(); ++i) {
            auto s = image->section(i);
            if (s->type == elf::kShtNote || s->type == elf::kShtSymtab || (s->flags & elf::kShfCompressed))
                regions.push_back({s->offset, std::min<std::uint64_t>(s->size, 256)});
        }
        if (image->sectionCount() > 0) regions.push_back({sectionTableOffset(whole), sectionTableSize(*image)});
        const int count = whole.size() > (1u << 20) ? 80 : 250;
        for (int v = 0; v < count; ++v) {
            Bytes damaged = whole;
            const auto& [start, length] = regions[random() % regions.size()];
            int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits && length > 0; ++e) {
                std::uint64_t at = start + random() % length;
                if (at >= damaged.size()) continue;
                static const std::uint8_t kValues[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x10};
                damaged[at] = random() % 2 ? kValues[random() % 6] : static_cast<std::uint8_t>(random());
            }
            opened += openAndExercise(damaged, source.label);
            ++variants;
        }
        expectOnlyReaderMessages(source.label);
    }
    std::cout << "corrupted variants: " << variants << " (" << opened << " opened and read safely)\n";
}

}  // namespace

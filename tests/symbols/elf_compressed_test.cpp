// Compressed sections (zlib, Zstandard), MiniDebugInfo (XZ) and the limits on decompressed size.
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include "analyzer/symbols/decompress.h"
#include "tests/symbols/elf_test_support.h"

namespace {

using coresift::DecompressError;
using testsupport::Bytes;
using testsupport::compressedSection;
using testsupport::ElfBuilder;
namespace elf = coresift::elf;

Bytes sample(std::size_t n) {
    Bytes out(n);
    std::uint32_t x = 12345;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>((x >> 16) % 7);  // compressible, not trivial
    }
    return out;
}

Bytes zlibCompress(const Bytes& in) {
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

Bytes zstdCompress(const Bytes& in) {
    Bytes out(ZSTD_compressBound(in.size()));
    std::size_t size = ZSTD_compress(out.data(), out.size(), in.data(), in.size(), 3);
    EXPECT_FALSE(ZSTD_isError(size));
    out.resize(size);
    return out;
}

Bytes xzCompress(const Bytes& in) {
    Bytes out(lzma_stream_buffer_bound(in.size()));
    std::size_t pos = 0;
    EXPECT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, in.data(), in.size(), out.data(), &pos, out.size()),
              LZMA_OK);
    out.resize(pos);
    return out;
}

common::ByteView viewOf(const Bytes& b) { return common::ByteView(b.data(), b.size()); }

class ElfCompressed : public testsupport::ElfClassTest {
protected:
    // An image whose .debug_frame holds `contents` with SHF_COMPRESSED.
    Bytes imageWith(const Bytes& contents) {
        ElfBuilder b(GetParam());
        b.addSection(".debug_frame", elf::kShtProgbits, contents, elf::kShfCompressed);
        return b.build();
    }
    std::optional<coresift::SectionBytes> debugFrame(const Bytes& contents) {
        image_ = open(imageWith(contents));
        if (!image_) return std::nullopt;
        return image_->mapSection(console(), elf::kShtProgbits, ".debug_frame");
    }
    std::unique_ptr<coresift::ElfImage> image_;
};

TEST_P(ElfCompressed, ZlibAndZstdSectionsDecompressToTheOriginalBytes) {
    Bytes original = sample(10000);
    for (std::uint32_t type : {elf::kCompressZlib, elf::kCompressZstd}) {
        Bytes packed = type == elf::kCompressZlib ? zlibCompress(original) : zstdCompress(original);
        auto section = debugFrame(compressedSection(GetParam(), type, original.size(), packed));
        ASSERT_TRUE(section) << type;
        EXPECT_TRUE(section->decompressed());
        EXPECT_EQ(Bytes(section->view().data(), section->view().data() + section->size()), original);
        // The copy survives a move (callers keep SectionBytes in their own records).
        coresift::SectionBytes moved = std::move(*section);
        EXPECT_EQ(moved.view().data()[9999], original[9999]);
    }
    EXPECT_EQ(run.err(), "");
}

TEST_P(ElfCompressed, OtherCompressionTypesAreNotSupported) {
    auto section = debugFrame(compressedSection(GetParam(), 3, 16, Bytes(16, 0)));
    EXPECT_FALSE(section);
    EXPECT_EQ(run.err(), "Error: DON't support compress section: 3\n");
}

TEST_P(ElfCompressed, BrokenCompressedDataIsReportedAndTheSectionIsAbsent) {
    Bytes original = sample(4000);
    Bytes packed = zlibCompress(original);
    Bytes corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0xFF;
    Bytes truncated(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
    const std::string message = "Error: Fail to unzip lib/libfoo.so(.debug_frame)\n";
    struct Case {
        std::uint32_t type;
        std::uint64_t declared;
        Bytes payload;
    };
    std::vector<Case> cases = {
        {elf::kCompressZlib, original.size(), corrupt},
        {elf::kCompressZlib, original.size(), truncated},
        {elf::kCompressZlib, original.size() + 1, packed},  // the stream ends before the declared size
        {elf::kCompressZlib, original.size() - 1, packed},  // more data than declared
        {elf::kCompressZstd, original.size() + 1, zstdCompress(original)},
        {elf::kCompressZstd, original.size(), Bytes(40, 0x55)},
        {elf::kCompressZstd, std::uint64_t{1} << 40, zstdCompress(original)},  // hostile size: refused before allocating
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(debugFrame(compressedSection(GetParam(), c.type, c.declared, c.payload)));
    }
    std::string expected;
    for (std::size_t i = 0; i < cases.size(); ++i) expected += message;
    EXPECT_EQ(run.err(), expected);

    // A compressed section too short for its own header.
    EXPECT_FALSE(debugFrame(Bytes{2, 0, 0}));
    EXPECT_EQ(run.err(), expected + message);
}

TEST_P(ElfCompressed, MiniDebugInfoOpensTheEmbeddedSymbolTable) {
    ElfBuilder inner(GetParam());
    inner.addSymbols({{"art_quick_invoke_stub", 0x2000, 0x80}, {"MterpHelper", 0x2080, 0x20}});
    Bytes debugData = xzCompress(inner.build());

    ElfBuilder outer(GetParam());
    outer.addSection(".text", elf::kShtProgbits, Bytes(32, 0), 6, 0x2000);
    outer.addSection(".gnu_debugdata", elf::kShtProgbits, debugData);
    Bytes bytes = outer.build();

    auto file = open(bytes, elf::kSymbolFileTypes, "system/lib/libart.so");
    auto memory = openMemory(bytes, "libart.so");
    for (const auto* image : {file.get(), memory.get()}) {
        ASSERT_TRUE(image);
        EXPECT_FALSE(image->symtabIndex());
        auto mini = image->miniDebugInfo(console());
        ASSERT_TRUE(mini);
        EXPECT_EQ(mini->name(), image->name());
        EXPECT_FALSE(mini->isFileImage());
        EXPECT_EQ(mini->elfClass(), GetParam());
        auto table = mini->symbolTable();
        ASSERT_EQ(table.count(), 3u);
        EXPECT_EQ(table.at(1)->name, "art_quick_invoke_stub");
        EXPECT_EQ(table.at(2)->value, 0x2080u);
    }
    EXPECT_EQ(run.err(), "");
}

TEST_P(ElfCompressed, MiniDebugInfoFailures) {
    ElfBuilder none(GetParam());
    auto image = open(none.build());
    EXPECT_FALSE(image->miniDebugInfo(console()));  // no section: silently nothing
    EXPECT_EQ(run.err(), "");

    ElfBuilder broken(GetParam());
    Bytes garbage = xzCompress(sample(3000));
    garbage[garbage.size() / 2] ^= 0x40;
    broken.addSection(".gnu_debugdata", elf::kShtProgbits, garbage);
    image = open(broken.build());
    EXPECT_FALSE(image->miniDebugInfo(console()));
    EXPECT_EQ(run.err(), "Error: Fail to unzip XzDec\n");

    // Decompresses, but is not an image of this class: nothing, silently.
    ElfBuilder otherInner(otherClass());
    ElfBuilder outer(GetParam());
    outer.addSection(".gnu_debugdata", elf::kShtProgbits, xzCompress(otherInner.build()));
    image = open(outer.build());
    EXPECT_FALSE(image->miniDebugInfo(console()));
    EXPECT_EQ(run.err(), "Error: Fail to unzip XzDec\n");
}

FERROVANE_BOTH_ELF_CLASSES(ElfCompressed);

TEST(Decompress, OutputIsCappedForBombsAndHostileSizes) {
    EXPECT_EQ(coresift::decompressionLimit(0), coresift::kMinDecompressionLimit);
    EXPECT_EQ(coresift::decompressionLimit(1000), 1000 * coresift::kMaxExpansion);
    EXPECT_EQ(coresift::decompressionLimit(std::uint64_t{1} << 40), coresift::kMaxDecompressedSize);

    Bytes zeros(std::size_t{16} << 20, 0);  // 16 MiB of zeros pack into a few KiB
    Bytes bomb = xzCompress(zeros);
    ASSERT_LT(bomb.size() * coresift::kMaxExpansion, zeros.size());
    EXPECT_EQ(coresift::decompressXz(viewOf(bomb)).error, DecompressError::TooLarge);
    EXPECT_EQ(coresift::inflateZlib(viewOf(zlibCompress(zeros)), zeros.size()).error, DecompressError::TooLarge);
}

TEST(Decompress, XzStreamsOfManyBlocksAndConcatenatedStreams) {
    Bytes a = sample(300000), b = sample(1000);
    Bytes packed = xzCompress(a);
    Bytes second = xzCompress(b);
    packed.insert(packed.end(), second.begin(), second.end());
    auto result = coresift::decompressXz(viewOf(packed));
    ASSERT_EQ(result.error, DecompressError::None);
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_EQ(result.bytes, both);

    EXPECT_EQ(coresift::decompressXz(viewOf(Bytes{})).error, DecompressError::Corrupt);
    Bytes cut(packed.begin(), packed.begin() + 100);
    EXPECT_EQ(coresift::decompressXz(viewOf(cut)).error, DecompressError::Corrupt);
}

TEST(Decompress, EmptyOutputs) {
    auto z = coresift::inflateZlib(viewOf(zlibCompress({})), 0);
    EXPECT_EQ(z.error, DecompressError::None);
    EXPECT_TRUE(z.bytes.empty());
    auto s = coresift::decompressZstd(viewOf(zstdCompress({})), 0);
    EXPECT_EQ(s.error, DecompressError::None);
}

}  // namespace

// Note walks and the GNU build-id.
#include "tests/symbols/elf_test_support.h"

namespace {

using coresift::Note;
using coresift::ProgramHeader;
using testsupport::Bytes;
using testsupport::ElfBuilder;
using testsupport::noteRecord;
namespace elf = coresift::elf;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes counting(std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i + 1);
    return out;
}

class ElfNotes : public testsupport::ElfClassTest {
protected:
    // An image with one PT_NOTE segment per blob, in order.
    Bytes imageWithNotes(std::initializer_list<Bytes> segments, std::uint16_t type = elf::kEtDyn) {
        ElfBuilder b(GetParam(), type);
        for (const auto& blob : segments) {
            std::uint32_t s = b.addSection(".note", elf::kShtNote, blob, 2);
            b.addSegmentForSection(elf::kPtNote, s);
        }
        return b.build();
    }
    std::vector<std::string> walk(const coresift::ElfImage& image, int* result = nullptr) {
        std::vector<std::string> seen;
        int r = image.forEachNote(console(), [&](const Note& n) {
            seen.push_back(std::string(n.name) + "/" + std::to_string(n.type) + "/" + std::to_string(n.desc.size()));
            return 0;
        });
        if (result) *result = r;
        return seen;
    }
};

TEST_P(ElfNotes, OnlyTheLastNoteSegmentIsWalked) {
    auto image = open(imageWithNotes({noteRecord("first", 1, counting(4)),
                                      concat({noteRecord("CORE", 1, counting(7)), noteRecord("LINUX", 0x402, {}),
                                              noteRecord("GNU", 3, counting(3))})}));
    ASSERT_TRUE(image);
    EXPECT_EQ(walk(*image), (std::vector<std::string>{"CORE/1/7", "LINUX/1026/0", "GNU/3/3"}));
    // The descriptor bytes are where the aligned layout puts them.
    Bytes firstDesc;
    image->forEachNote(console(), [&](const Note& n) {
        firstDesc.assign(n.desc.data(), n.desc.data() + n.desc.size());
        return 1;
    });
    EXPECT_EQ(firstDesc, counting(7));
    EXPECT_EQ(run.err(), "");
}

TEST_P(ElfNotes, AVisitorStopsTheWalkWithItsResult) {
    auto image = open(imageWithNotes({concat({noteRecord("A", 1, {}), noteRecord("B", 2, {}), noteRecord("C", 3, {})})}));
    int calls = 0;
    EXPECT_EQ(image->forEachNote(console(), [&](const Note& n) {
        ++calls;
        return n.type == 2 ? 2 : 0;
    }), 2);
    EXPECT_EQ(calls, 2);
}

TEST_P(ElfNotes, RecordsRunningPastTheSegmentEndTheWalk) {
    Bytes truncatedDesc = noteRecord("GNU", 3, counting(20));
    testsupport::put32(truncatedDesc, 4, 0xFFFFFFF0u);  // descsz far past the segment
    Bytes hugeName = noteRecord("CORE", 1, {});
    testsupport::put32(hugeName, 0, 0xFFFFFFFFu);  // namesz far past the segment (and 4 GiB)
    Bytes shortHeader{1, 0, 0, 0, 0, 0};
    for (const Bytes& bad : {truncatedDesc, hugeName, shortHeader}) {
        auto image = open(imageWithNotes({concat({noteRecord("OK", 1, {}), bad, noteRecord("NEVER", 1, {})})}));
        ASSERT_TRUE(image);
        EXPECT_EQ(walk(*image), std::vector<std::string>{"OK/1/0"});
    }
    EXPECT_EQ(run.err(), "");
}

TEST_P(ElfNotes, MissingOrUnmappableNoteSegments) {
    // Without PT_NOTE: only the coredump complains.
    ElfBuilder plain(GetParam());
    auto image = open(plain.build());
    int result = 0;
    EXPECT_TRUE(walk(*image, &result).empty());
    EXPECT_EQ(result, coresift::ElfImage::kNoNoteSegment);
    EXPECT_EQ(run.err(), "");
    ElfBuilder core(GetParam(), elf::kEtCore);
    image = open(core.build(), elf::kCoreTypes, "PROCESS_COREDUMP");
    walk(*image);
    EXPECT_EQ(run.out(), "Error: Fail to find <PROCESS_COREDUMP> .note segment\n");
    EXPECT_EQ(run.err(), "");

    // A note segment outside the bytes (an in-memory image of a module's headers).
    ElfBuilder b(GetParam());
    ProgramHeader note;
    note.type = elf::kPtNote;
    note.offset = 0x10000;
    note.filesz = 0x20;
    b.addSegment(note);
    ProgramHeader load;
    load.type = elf::kPtLoad;
    b.addSegment(load);  // the last header lies in the file, so the open succeeds
    Bytes bytes = b.build();
    image = openMemory(bytes, "libfoo.so");
    ASSERT_TRUE(image);
    EXPECT_TRUE(walk(*image, &result).empty());
    EXPECT_EQ(result, coresift::ElfImage::kNoNoteSegment);
    EXPECT_NE(run.out().find("Warning: libfoo.so fail to map .note\n"), std::string::npos) << run.out();
    EXPECT_EQ(run.err(), "");
}

TEST_P(ElfNotes, BuildIdIsFoundInAnyNoteSegment) {
    // Android libraries: the build-id in the first of two PT_NOTE segments.
    Bytes id = counting(20);
    auto image = open(imageWithNotes({concat({noteRecord("Android", 1, counting(8)), noteRecord("GNU", 3, id)}),
                                      noteRecord("GNU", 5, counting(16))}));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->buildId(console()), "0102030405060708090a0b0c0d0e0f1011121314");
    EXPECT_EQ(run.err(), "");
}

TEST_P(ElfNotes, BuildIdNeedsTheExactGnuName) {
    auto image = open(imageWithNotes({concat({noteRecord("GNU", 3, counting(4), false),  // no NUL
                                              noteRecord("GNUX", 3, counting(4)), noteRecord("GNU", 1, counting(4))})}));
    EXPECT_EQ(image->buildId(console()), "");
    image = open(imageWithNotes({concat({noteRecord("GNU", 3, {}), noteRecord("GNU", 3, counting(2))})}));
    EXPECT_EQ(image->buildId(console()), "");  // the first one ends the search, even empty
}

TEST_P(ElfNotes, ALongBuildIdIsCutToTwentyBytesWithAMessage) {
    auto image = open(imageWithNotes({noteRecord("GNU", 3, Bytes(32, 0xAB))}));
    std::string expected;
    for (int i = 0; i < 20; ++i) expected += "ab";
    EXPECT_EQ(image->buildId(console()), expected);
    EXPECT_EQ(run.err(), "Error: build-id(32) is too long\n");
}

FERROVANE_BOTH_ELF_CLASSES(ElfNotes);

}  // namespace

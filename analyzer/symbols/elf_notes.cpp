// Note records of PT_NOTE segments, and the GNU build-id.
#include "analyzer/driver/console.h"
#include "analyzer/symbols/elf_image.h"

namespace coresift {
namespace {

constexpr std::uint64_t kNoteHeaderSize = 12;  // namesz, descsz, type
constexpr std::size_t kMaxBuildIdBytes = 20;

std::uint64_t alignUp4(std::uint64_t value) { return (value + 3) & ~std::uint64_t{3}; }

// Walks the note records of one segment. Records are 4-byte aligned; a record whose header,
// name or descriptor runs past the segment ends the walk.
int walkNotes(common::ByteView segment, const std::function<int(const Note&)>& visit) {
    std::uint64_t offset = 0;
    while (offset < segment.size()) {
        common::ByteReader header(segment, static_cast<std::size_t>(offset));
        std::uint32_t nameSize = header.u32();
        std::uint32_t descSize = header.u32();
        std::uint32_t type = header.u32();
        if (!header.ok()) break;
        std::uint64_t nameOffset = offset + kNoteHeaderSize;
        std::uint64_t descOffset = alignUp4(nameOffset + nameSize);
        auto name = segment.sub(nameOffset, nameSize);
        auto desc = segment.sub(descOffset, descSize);
        if (!name || !desc) break;

        Note note;
        note.type = type;
        note.nameBytes = *name;
        std::string_view text(reinterpret_cast<const char*>(name->data()), name->size());
        note.name = text.substr(0, text.find('\0'));
        note.desc = *desc;
        if (int result = visit(note)) return result;
        offset = alignUp4(descOffset + descSize);
    }
    return 0;
}

}  // namespace

std::optional<common::ByteView> ElfImage::noteSegmentBytes(Console& console, const ProgramHeader& segment) const {
    auto bytes = segmentBytes(segment);
    // Note segment messages go to standard output, as the coredump loader's other notices do.
    if (!bytes) console.printMessage(kToStdout | kYellow, static_cast<int>(Msg::WarningPrefix), Msg::FailToMap, name_, ".note");
    return bytes;
}

int ElfImage::forEachNote(Console& console, const std::function<int(const Note&)>& visit) const {
    auto segment = findSegment(elf::kPtNote);
    if (!segment) {
        if (name_.find("PROCESS_") != std::string::npos)
            console.printMessage(kToStdout, static_cast<int>(Msg::ErrorPrefix), Msg::FailToFindSegment, name_, ".note");
        return kNoNoteSegment;
    }
    auto bytes = noteSegmentBytes(console, *segment);
    if (!bytes) return kNoNoteSegment;
    return walkNotes(*bytes, visit);
}

std::string ElfImage::buildId(Console& console) const {
    std::string id;
    auto visit = [&](const Note& note) {
        if (note.type != elf::kNtGnuBuildId || note.nameBytes.size() < 4 || note.name != "GNU") return 0;
        common::ByteView desc = note.desc;
        if (desc.size() > kMaxBuildIdBytes) {
            console.error(Msg::BuildIdTooLong, static_cast<int>(desc.size()));
            desc = *desc.sub(0, kMaxBuildIdBytes);
        }
        id = toHex(desc);
        return 1;
    };
    for (std::uint32_t i = 0; i < segmentCount(); ++i) {
        auto p = segment(i);
        if (!p || p->type != elf::kPtNote) continue;
        auto bytes = noteSegmentBytes(console, *p);
        if (bytes && walkNotes(*bytes, visit)) return id;
    }
    for (std::uint32_t i = 0; i < sectionCount(); ++i) {
        auto s = section(i);
        if (!s || s->type != elf::kShtNote) continue;
        auto bytes = view(s->offset, s->size);
        if (bytes && walkNotes(*bytes, visit)) return id;
    }
    return id;
}

std::string toHex(common::ByteView bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text += kDigits[bytes.data()[i] >> 4];
        text += kDigits[bytes.data()[i] & 0xF];
    }
    return text;
}

}  // namespace coresift

#include "analyzer/unwind/eh_frame_table.h"

#include <algorithm>
#include <type_traits>

#include "analyzer/unwind/cfi_messages.h"
#include "analyzer/unwind/pointer_encoding.h"

namespace coresift::unwind {
namespace {

constexpr std::uint8_t kTableEncoding = pe::kDatarel | pe::kSdata4;  // 0x3B
constexpr TargetWord kHeaderMinimumSize = 20;
constexpr std::size_t kTableEntrySize = 8;

using SignedWord = std::make_signed_t<TargetWord>;

}  // namespace

EhFrameTable::EhFrameTable(std::string moduleName, TargetWord header, TargetWord headerSize, TargetWord section,
                           TargetWord sectionSize)
    : name_(std::move(moduleName)),
      header_(header),
      headerSize_(headerSize),
      sectionAddress_(section),
      sectionSize_(sectionSize) {}

CfiSection EhFrameTable::section(const StepEnvironment& env) const {
    CfiSection section;
    section.memory = env.memory;
    section.format = CfiFormat::EhFrame;
    section.start = ehFrame_;
    section.size = ehFrameSize_;
    section.names = {env.console, name_.c_str(), ".eh_frame"};
    return section;
}

void EhFrameTable::open(const StepEnvironment& env) {
    mode_ = Mode::Unusable;
    if (header_ != 0 && readHeader(env)) return;
    if (mode_ == Mode::Unusable && sectionAddress_ != 0) walkSection(env, sectionAddress_, sectionSize_);
}

// Reads the header. True when the search table can be used; otherwise false, and when
// eh_frame_ptr was readable the section has been walked from there.
bool EhFrameTable::readHeader(const StepEnvironment& env) {
    const TableNames names{env.console, name_.c_str(), ".eh_frame_hdr"};
    const common::ByteView bytes = env.memory->bytesAt(header_);
    if (bytes.size() < 4) {
        reportSegmentCorrupted(names, header_);
        return false;
    }
    common::ByteReader reader(bytes);
    const std::uint8_t version = reader.u8();
    const std::uint8_t pointerEncoding = reader.u8();
    const std::uint8_t countEncoding = reader.u8();
    const std::uint8_t tableEncoding = reader.u8();
    if (version != 1) {
        reportVersion(names, version);
        return false;
    }
    const PointerBases bases{header_, header_};
    TargetWord ehFrame = 0;
    PointerStatus status = readEncodedPointer(reader, pointerEncoding, bases, ehFrame);
    if (status != PointerStatus::Ok) {
        if (status == PointerStatus::Unsupported) reportUnsupportedEncoding(names, pointerEncoding);
        else reportSegmentCorrupted(names, header_);
        return false;
    }
    // From here on a faulty header still names where .eh_frame starts.
    const TargetWord walkSize = ehFrame == sectionAddress_ ? sectionSize_ : 0;
    auto walkInstead = [&] {
        walkSection(env, ehFrame, walkSize);
        return false;
    };
    if (headerSize_ < kHeaderMinimumSize) {
        reportSegmentSize(names, headerSize_);
        return walkInstead();
    }
    TargetWord count = 0;
    status = readEncodedPointer(reader, countEncoding, bases, count);
    if (status == PointerStatus::Unsupported) reportUnsupportedEncoding(names, countEncoding);
    if (status != PointerStatus::Ok) return walkInstead();
    if (tableEncoding != kTableEncoding) {
        reportUnsupportedEncoding(names, tableEncoding);
        return walkInstead();
    }
    // The table is used as far as both the segment and the readable bytes hold it.
    const std::size_t tableOffset = reader.offset();
    const std::size_t inSegment = headerSize_ > tableOffset ? (headerSize_ - tableOffset) / kTableEntrySize : 0;
    const std::size_t readable = (bytes.size() - tableOffset) / kTableEntrySize;
    tableCount_ = static_cast<std::size_t>(std::min<std::uint64_t>(count, std::min(inSegment, readable)));
    if (tableCount_ == 0) return walkInstead();
    ehFrame_ = ehFrame;
    ehFrameSize_ = walkSize;
    table_ = header_ + static_cast<TargetWord>(tableOffset);
    mode_ = Mode::Search;
    return true;
}

void EhFrameTable::walkSection(const StepEnvironment& env, TargetWord start, TargetWord size) {
    ehFrame_ = start;
    ehFrameSize_ = size;
    index_.build(section(env));
    mode_ = index_.size() ? Mode::Linear : Mode::Unusable;
}

// How many table entries with the same initial location are tried (an empty FDE may share its
// location with the real one, in either order).
constexpr std::size_t kSameLocationTries = 8;

FdeLookup EhFrameTable::searchTable(const StepEnvironment& env, TargetWord pc) const {
    FdeLookup lookup;
    const common::ByteView table = env.memory->bytesAt(table_);
    if (table.size() / kTableEntrySize < tableCount_) return lookup;
    // Entries hold (initial location, FDE address) relative to the header, sorted by location.
    const std::int64_t key = static_cast<SignedWord>(pc - header_);
    std::size_t low = 0, high = tableCount_;  // the answer is below `high`
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (*table.read<std::int32_t>(middle * kTableEntrySize) <= key) low = middle + 1;
        else high = middle;
    }
    if (low == 0) return lookup;
    const std::int32_t location = *table.read<std::int32_t>((low - 1) * kTableEntrySize);
    for (std::size_t i = low, tries = 0; i-- > 0 && tries < kSameLocationTries; ++tries) {
        if (*table.read<std::int32_t>(i * kTableEntrySize) != location) break;
        const std::int32_t fde = *table.read<std::int32_t>(i * kTableEntrySize + 4);
        lookup = readCovering(env, header_ + static_cast<TargetWord>(static_cast<SignedWord>(fde)), pc);
        if (lookup.kind != FdeLookup::Kind::None) break;
    }
    return lookup;
}

FdeLookup EhFrameTable::readCovering(const StepEnvironment& env, TargetWord address, TargetWord pc) const {
    FdeLookup lookup;
    std::optional<Fde> fde = readFde(section(env), address);
    if (!fde) {
        lookup.kind = FdeLookup::Kind::Bad;
        return lookup;
    }
    if (pc < fde->pcBegin || pc >= fde->pcEnd) return lookup;
    lookup.kind = FdeLookup::Kind::Found;
    lookup.fde = *fde;
    return lookup;
}

FdeLookup EhFrameTable::find(const StepEnvironment& env, TargetWord pc) {
    if (mode_ == Mode::Unopened) open(env);
    if (mode_ == Mode::Search) {
        FdeLookup lookup = searchTable(env, pc);
        if (lookup.kind != FdeLookup::Kind::None) return lookup;
        // Linkers have left FDEs out of the table (one that shares its location with an empty
        // FDE): the section itself, walked once, has the last word.
        if (!walkedBehindTable_) {
            walkedBehindTable_ = true;
            index_.build(section(env));
        }
    }
    if (mode_ == Mode::Search || mode_ == Mode::Linear) {
        if (std::optional<TargetWord> address = index_.find(pc)) return readCovering(env, *address, pc);
    }
    return {};
}

}  // namespace coresift::unwind

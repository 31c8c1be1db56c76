#include "analyzer/symbols/linker_records.h"

#include <algorithm>
#include <cstring>

#include "analyzer/process/address_space.h"

namespace coresift {

namespace {

constexpr std::size_t kWord = sizeof(TargetWord);
// The part of a record the scan looks at, from its base word on.
constexpr std::size_t kWindowSize = kIs64 ? 256 : 156;
constexpr std::uint32_t kLinkerFlags = 0x40000041;
constexpr std::size_t kMaxNameLength = 4096;

// Word positions inside the window (in TargetWords from the base word).
namespace w {
constexpr std::size_t kBase = 0, kSize = 1;
constexpr std::size_t kDynamic = kIs64 ? 2 : 3;
constexpr std::size_t kLegacyA = 4, kLegacyB = 5;  // CoreSift only
constexpr std::size_t kNext = kIs64 ? 3 : 6;
constexpr std::size_t kFlags = kIs64 ? 4 : 7;
constexpr std::size_t kStrings = kIs64 ? 5 : 8;
constexpr std::size_t kBuckets = kIs64 ? 7 : 10;
constexpr std::size_t kReferences = kIs64 ? 23 : 29;
constexpr std::size_t kExidxCount = 28;  // CoreSift only
constexpr std::size_t kLinkAddress = kIs64 ? 24 : 30;
constexpr std::size_t kLinkName = kIs64 ? 25 : 31;
constexpr std::size_t kLoadBias = kIs64 ? 30 : 36;
constexpr std::size_t kVersionByte = kIs64 ? 252 : 152;  // a 32-bit word
}  // namespace w

TargetWord windowWord(common::ByteView window, std::size_t index) {
    return window.read<TargetWord>(index * kWord).value_or(0);
}

}  // namespace

std::optional<TargetWord> LinkerRecords::findFirst(MapEntry& region) {
    common::ByteView bytes = space_.regionView(region);
    if (bytes.size() < kWindowSize) return std::nullopt;
    for (std::size_t at = (bytes.size() - kWindowSize) & ~(kWord - 1);; at -= kWord) {
        common::ByteView window = *bytes.sub(at, kWindowSize);
        TargetWord strings = windowWord(window, w::kStrings);
        std::uint32_t flags = static_cast<std::uint32_t>(windowWord(window, w::kFlags));
        bool matches = windowWord(window, w::kBase) == 0 && strings >= linkerStart_ && strings < region.start &&
                       windowWord(window, w::kReferences) != 0 &&
                       ((windowWord(window, w::kLoadBias) == linkerBase_ && flags == kLinkerFlags) ||
                        (windowWord(window, w::kBuckets) == 1 && (flags & 0xBFFFFFFF) == 1));
        if (matches) {
            TargetWord windowAddress = region.start + static_cast<TargetWord>(at);
            if constexpr (kIs64) {
                // The word before the base is the program header count in the usual layout; the
                // layout with one more word before the base has something else there.
                auto count = space_.read<TargetWord>(windowAddress - 8);
                windowOffset_ = count && *count - 1 < 16 ? 16 : 24;
            }
            chooseLayout(windowAddress - windowOffset_);
            return windowAddress - windowOffset_;
        }
        if (at == 0) break;
    }
    return std::nullopt;
}

void LinkerRecords::chooseLayout(TargetWord record) {
    auto version = space_.read<std::uint32_t>(record + windowOffset_ + w::kVersionByte).value_or(0);
    if constexpr (kIs64) {
        nameForm_ = NameForm::StringObject;
        if (version < 2) {
            windowOffset_ = 24;
            programHeadersOffset_ = 8;
            nameForm_ = NameForm::Pointer;
            nameOffset_ = 0;
            return;
        }
        const unsigned shift = windowOffset_ == 24 ? 8 : 0;
        nameOffset_ = 416 + shift;
        if (version > 5) {
            std::string path = readStringObject(record + 432 + shift);
            if (path.substr(path.rfind('/') + 1).rfind("linker", 0) == 0) nameOffset_ = 432 + shift;
        }
    } else {
        auto flags = space_.read<std::uint32_t>(record + windowOffset_ + w::kFlags * kWord).value_or(0);
        nameForm_ = NameForm::Inline;
        nameOffset_ = 0;
        if (!(flags & record_flag::kNewLayout)) return;
        if (version > 5) {
            std::string path = readStringObject(record + 388);
            if (path.substr(path.rfind('/') + 1).rfind("linker", 0) == 0) {
                nameForm_ = NameForm::StringObject;
                nameOffset_ = 388;
                return;
            }
        }
        if (version >= 2) {
            nameForm_ = NameForm::StringObject;
            nameOffset_ = 380;
        }
    }
}

std::optional<LibraryRecord> LinkerRecords::read(TargetWord address) const {
    std::uint8_t bytes[kWindowSize];
    if (!space_.readMemory(address + windowOffset_, bytes, sizeof bytes)) return std::nullopt;
    const common::ByteView window(bytes, sizeof bytes);
    LibraryRecord r;
    r.address = address;
    r.programHeaders = space_.read<TargetWord>(address + programHeadersOffset_).value_or(0);
    r.base = windowWord(window, w::kBase);
    r.size = windowWord(window, w::kSize);
    r.dynamic = windowWord(window, w::kDynamic);
    r.next = windowWord(window, w::kNext);
    r.flags = static_cast<std::uint32_t>(windowWord(window, w::kFlags));
    r.linkAddress = windowWord(window, w::kLinkAddress);
    r.linkName = windowWord(window, w::kLinkName);
    r.loadBias = windowWord(window, w::kLoadBias);
    r.version = window.read<std::uint32_t>(w::kVersionByte).value_or(0);
    if constexpr (!kIs64) {
        r.legacyA = windowWord(window, w::kLegacyA);
        r.legacyB = windowWord(window, w::kLegacyB);
        r.exidxCount = static_cast<std::uint32_t>(windowWord(window, w::kExidxCount));
    }
    return r;
}

std::string LinkerRecords::nameOf(const LibraryRecord& record) const {
    if (nameForm_ == NameForm::Inline) return readInlineName(record.address + nameOffset_);
    if (nameForm_ == NameForm::Pointer) {
        auto pointer = space_.read<TargetWord>(record.address + nameOffset_);
        auto text = pointer ? space_.readString(*pointer) : std::nullopt;
        if (!text) return {};
        if (text->size() > kMaxNameLength) text->resize(kMaxNameLength);
        return *text;
    }
    return readStringObject(record.address + nameOffset_);
}

// A string object in its short form (bit 0 of the first byte clear: the text follows inline) or
// its long form (the text is at the pointer in its third word).
std::string LinkerRecords::readStringObject(TargetWord address) const {
    std::uint8_t object[3 * kWord];
    if (!space_.readMemory(address, object, sizeof object)) return {};
    if (!(object[0] & 1)) {
        const char* text = reinterpret_cast<const char*>(object + 1);
        return std::string(text, strnlen(text, sizeof object - 1));
    }
    auto pointer = common::ByteView(object, sizeof object).read<TargetWord>(2 * kWord);
    auto text = pointer ? space_.readString(*pointer) : std::nullopt;
    if (!text) return {};
    if (text->size() > kMaxNameLength) text->resize(kMaxNameLength);
    return *text;
}

std::string LinkerRecords::readInlineName(TargetWord address) const {
    char name[128];
    if (!space_.readMemory(address, name, sizeof name)) return {};
    return std::string(name, strnlen(name, sizeof name));
}

}  // namespace coresift

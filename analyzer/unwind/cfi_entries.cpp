#include "analyzer/unwind/cfi_entries.h"

#include <limits>
#include <map>
#include <string_view>

#include "analyzer/unwind/cfi_messages.h"
#include "analyzer/unwind/pointer_encoding.h"

namespace coresift::unwind {
namespace {

constexpr TargetWord kMaxAddress = std::numeric_limits<TargetWord>::max();

TargetWord saturatingAdd(TargetWord a, TargetWord b) { return a > kMaxAddress - b ? kMaxAddress : a + b; }

// The bytes of the section from `address` on: the memory's view, cut at the section's end.
common::ByteView sectionBytesAt(const CfiSection& section, TargetWord address) {
    if (section.size != 0) {
        if (address < section.start || address - section.start >= section.size) return {};
    }
    common::ByteView view = section.memory->bytesAt(address);
    if (section.size != 0) {
        const TargetWord left = section.size - (address - section.start);
        if (view.size() > left) view = *view.sub(0, left);
    }
    return view;
}

bool isCieId(CfiFormat format, bool wide, std::uint64_t id) {
    if (format == CfiFormat::EhFrame) return id == 0;
    return wide ? id == ~std::uint64_t{0} : id == 0xFFFFFFFFu;
}

// The unsigned fixed-size format of an address, the only explicit FDE encoding `.debug_frame` takes.
constexpr std::uint8_t kAddressFormat = kAddressSize == 8 ? pe::kUdata8 : pe::kUdata4;

// Reads the augmentation data of a 'z' CIE into `cie`; false after the message of what is wrong.
bool readAugmentation(const CfiSection& section, std::string_view letters, common::ByteView data,
                      TargetWord dataAddress, Cie& cie) {
    common::ByteReader reader(data);
    const PointerBases bases{dataAddress, std::nullopt};
    for (char letter : letters) {
        switch (letter) {
            case 'P': {
                // The personality routine is not needed to unwind: step over its pointer by the
                // size of its format, whatever its application (often indirect).
                const std::uint8_t encoding = reader.u8();
                if (skipEncodedPointer(reader, encoding, bases) == PointerStatus::Unsupported) {
                    reportUnsupportedEncoding(section.names, encoding);
                    return false;
                }
                break;
            }
            case 'L': reader.u8(); break;
            case 'R': cie.fdeEncoding = reader.u8(); break;
            case 'S': cie.signalFrame = true; break;
            case 'B':  // AArch64: return addresses signed with the B key
            case 'G':  // AArch64: MTE-tagged stack frames
                if (kIs64) break;
                [[fallthrough]];
            default: reportAugmentation(section.names, letter); return false;
        }
    }
    if (!reader.ok()) {
        reportSegmentCorrupted(section.names, dataAddress);
        return false;
    }
    return true;
}

std::optional<Cie> parseCieBody(const CfiSection& section, const EntryHeader& header) {
    common::ByteReader reader(header.body);
    Cie cie;
    cie.version = reader.u8();
    if (!reader.ok()) {
        reportSegmentCorrupted(section.names, header.address);
        return std::nullopt;
    }
    if (cie.version != 1 && cie.version != 3 && cie.version != 4) {
        reportVersion(section.names, cie.version);
        return std::nullopt;
    }
    const std::string_view augmentation = reader.cstring();
    if (cie.version == 4) {
        reader.u8();  // address size
        reader.u8();  // segment selector size
    }
    cie.codeAlignment = reader.uleb128();
    cie.dataAlignment = reader.sleb128();
    const std::uint64_t returnRegister = cie.version == 1 ? reader.u8() : reader.uleb128();
    if (!reader.ok()) {
        reportSegmentCorrupted(section.names, header.address);
        return std::nullopt;
    }
    if (returnRegister >= kRuleCount) {
        reportInvalidIndex(section.names, Msg::WordRegister, static_cast<std::int64_t>(returnRegister));
        return std::nullopt;
    }
    cie.returnRegister = static_cast<unsigned>(returnRegister);

    if (!augmentation.empty()) {
        if (augmentation[0] != 'z') {
            reportAugmentation(section.names, augmentation[0]);
            return std::nullopt;
        }
        cie.augmented = true;
        const std::uint64_t length = reader.uleb128();
        const TargetWord dataAddress = header.bodyAddress + static_cast<TargetWord>(reader.offset());
        const common::ByteView data = reader.bytes(length);
        if (!reader.ok()) {
            reportSegmentCorrupted(section.names, header.address);
            return std::nullopt;
        }
        if (!readAugmentation(section, augmentation.substr(1), data, dataAddress, cie)) return std::nullopt;
    }
    cie.instructions = header.body.from(reader.offset());
    cie.instructionsAddress = header.bodyAddress + static_cast<TargetWord>(reader.offset());
    return cie;
}

}  // namespace

std::optional<EntryHeader> readEntryHeader(const CfiSection& section, TargetWord address) {
    common::ByteReader reader(sectionBytesAt(section, address));
    std::uint64_t length = reader.u32();
    if (!reader.ok()) return std::nullopt;
    EntryHeader header;
    header.address = address;
    if (length == 0) {
        header.kind = EntryKind::Terminator;
        header.next = saturatingAdd(address, 4);
        return header;
    }
    const bool wide = length == 0xFFFFFFFFu;
    if (wide) length = reader.u64();
    const std::size_t idOffset = reader.offset();
    const common::ByteView entry = reader.bytes(length);
    if (!reader.ok()) return std::nullopt;

    common::ByteReader idReader(entry);
    const std::uint64_t id = wide ? idReader.u64() : idReader.u32();
    if (!idReader.ok()) return std::nullopt;
    const TargetWord idAddress = address + static_cast<TargetWord>(idOffset);
    header.next = saturatingAdd(idAddress, static_cast<TargetWord>(entry.size()));
    header.bodyAddress = idAddress + static_cast<TargetWord>(idReader.offset());
    header.body = entry.from(idReader.offset());
    if (isCieId(section.format, wide, id)) {
        header.kind = EntryKind::Cie;
    } else {
        header.kind = EntryKind::Fde;
        header.cieAddress = section.format == CfiFormat::EhFrame ? idAddress - static_cast<TargetWord>(id)
                                                                 : section.start + static_cast<TargetWord>(id);
    }
    return header;
}

std::optional<Cie> readCie(const CfiSection& section, TargetWord address) {
    std::optional<EntryHeader> header = readEntryHeader(section, address);
    if (!header || header->kind != EntryKind::Cie) {
        reportSegmentCorrupted(section.names, address);
        return std::nullopt;
    }
    return parseCieBody(section, *header);
}

std::optional<Fde> readFdeBody(const CfiSection& section, const EntryHeader& header, const Cie& cie) {
    common::ByteReader reader(header.body);
    const PointerBases bases{header.bodyAddress, std::nullopt};
    TargetWord begin = 0, range = 0;
    if (section.format == CfiFormat::EhFrame) {
        PointerStatus status = readEncodedPointer(reader, cie.fdeEncoding, bases, begin);
        if (status == PointerStatus::Ok) status = readEncodedPointer(reader, cie.fdeEncoding & 0x0F, bases, range);
        if (status == PointerStatus::Unsupported) {
            reportUnsupportedEncoding(section.names, cie.fdeEncoding);
            return std::nullopt;
        }
    } else {
        if (cie.augmented && cie.fdeEncoding != pe::kAbsptr && cie.fdeEncoding != kAddressFormat) {
            reportUnsupportedEncoding(section.names, cie.fdeEncoding);
            return std::nullopt;
        }
        begin = reader.read<TargetWord>();
        range = reader.read<TargetWord>();
    }
    if (cie.augmented) reader.skip(reader.uleb128());
    if (!reader.ok()) {
        reportSegmentCorrupted(section.names, header.address);
        return std::nullopt;
    }
    Fde fde;
    fde.cie = cie;
    fde.pcBegin = begin;
    fde.pcEnd = saturatingAdd(begin, range);
    fde.instructions = header.body.from(reader.offset());
    fde.instructionsAddress = header.bodyAddress + static_cast<TargetWord>(reader.offset());
    return fde;
}

std::optional<Fde> readFde(const CfiSection& section, TargetWord address) {
    std::optional<EntryHeader> header = readEntryHeader(section, address);
    if (!header || header->kind != EntryKind::Fde) {
        reportSegmentCorrupted(section.names, address);
        return std::nullopt;
    }
    std::optional<Cie> cie = readCie(section, header->cieAddress);
    if (!cie) return std::nullopt;
    return readFdeBody(section, *header, *cie);
}

std::size_t forEachFde(const CfiSection& section, std::size_t maxEntries,
                       const std::function<void(TargetWord fde, TargetWord pcBegin, TargetWord pcEnd)>& visit) {
    CfiSection quiet = section;
    quiet.names.console = nullptr;
    std::map<TargetWord, std::optional<Cie>> cies;
    TargetWord address = section.start;
    std::size_t walked = 0;
    while (walked < maxEntries) {
        std::optional<EntryHeader> header = readEntryHeader(section, address);
        if (!header || header->kind == EntryKind::Terminator) break;
        ++walked;
        if (header->kind == EntryKind::Fde) {
            auto found = cies.find(header->cieAddress);
            if (found == cies.end()) {
                // Each CIE's problems are reported once per walk.
                std::optional<EntryHeader> cieHeader = readEntryHeader(section, header->cieAddress);
                std::optional<Cie> cie;
                if (cieHeader && cieHeader->kind == EntryKind::Cie) cie = parseCieBody(section, *cieHeader);
                found = cies.emplace(header->cieAddress, cie).first;
            }
            if (found->second) {
                if (std::optional<Fde> fde = readFdeBody(quiet, *header, *found->second))
                    visit(address, fde->pcBegin, fde->pcEnd);
            }
        }
        if (header->next <= address) break;
        address = header->next;
    }
    return walked;
}

}  // namespace coresift::unwind

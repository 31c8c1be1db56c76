#include "analyzer/unwind/pointer_encoding.h"

#include "analyzer/unwind/cfi_types.h"

namespace coresift::unwind {
namespace {

// Moves the reader to the next address that is a multiple of the pointer size.
void alignToPointer(common::ByteReader& reader, TargetWord viewAddress) {
    const TargetWord at = viewAddress + static_cast<TargetWord>(reader.offset());
    const TargetWord misalign = at % kAddressSize;
    if (misalign) reader.skip(kAddressSize - misalign);
}

// Reads the value format of `encoding`; false for an unknown format.
bool readFormat(common::ByteReader& reader, std::uint8_t format, std::uint64_t& raw) {
    switch (format) {
        case pe::kAbsptr: raw = kAddressSize == 8 ? reader.u64() : reader.u32(); return true;
        case pe::kUleb128: raw = reader.uleb128(); return true;
        case pe::kUdata2: raw = reader.u16(); return true;
        case pe::kUdata4: raw = reader.u32(); return true;
        case pe::kUdata8: raw = reader.u64(); return true;
        case pe::kSleb128: raw = static_cast<std::uint64_t>(reader.sleb128()); return true;
        case pe::kSdata2: raw = static_cast<std::uint64_t>(static_cast<std::int64_t>(reader.s16())); return true;
        case pe::kSdata4: raw = static_cast<std::uint64_t>(static_cast<std::int64_t>(reader.s32())); return true;
        case pe::kSdata8: raw = static_cast<std::uint64_t>(reader.s64()); return true;
        default: return false;
    }
}

}  // namespace

PointerStatus readEncodedPointer(common::ByteReader& reader, std::uint8_t encoding, const PointerBases& bases,
                                 TargetWord& value) {
    if (encoding == pe::kOmit) {
        value = 0;
        return PointerStatus::Ok;
    }
    const std::uint8_t application = encoding & 0x70;
    if ((encoding & pe::kIndirect) != 0) return PointerStatus::Unsupported;
    if (application == pe::kDatarel && !bases.dataBase) return PointerStatus::Unsupported;
    if (application != 0 && application != pe::kPcrel && application != pe::kDatarel && application != pe::kAligned)
        return PointerStatus::Unsupported;

    if (application == pe::kAligned) alignToPointer(reader, bases.viewAddress);
    const TargetWord fieldAddress = bases.viewAddress + static_cast<TargetWord>(reader.offset());
    std::uint64_t raw = 0;
    if (!readFormat(reader, encoding & 0x0F, raw)) return PointerStatus::Unsupported;
    if (!reader.ok()) return PointerStatus::Truncated;

    TargetWord result = static_cast<TargetWord>(raw);
    if (application == pe::kPcrel && result != 0) result += fieldAddress;
    if (application == pe::kDatarel) result += *bases.dataBase;
    value = result;
    return PointerStatus::Ok;
}

PointerStatus skipEncodedPointer(common::ByteReader& reader, std::uint8_t encoding, const PointerBases& bases) {
    if (encoding == pe::kOmit) return PointerStatus::Ok;
    if ((encoding & 0x70) == pe::kAligned) alignToPointer(reader, bases.viewAddress);
    std::uint64_t raw = 0;
    if (!readFormat(reader, encoding & 0x0F, raw)) return PointerStatus::Unsupported;
    return reader.ok() ? PointerStatus::Ok : PointerStatus::Truncated;
}

}  // namespace coresift::unwind

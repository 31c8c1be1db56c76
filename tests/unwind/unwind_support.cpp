#include "tests/unwind/unwind_support.h"

#include <algorithm>
#include <optional>

namespace testsupport {

using coresift::unwind::CfiFormat;

Emitter& Emitter::uleb(std::uint64_t v) {
    do {
        std::uint8_t b = v & 0x7F;
        v >>= 7;
        bytes_.push_back(v ? (b | 0x80) : b);
    } while (v);
    return *this;
}

Emitter& Emitter::sleb(std::int64_t v) {
    for (;;) {
        std::uint8_t b = v & 0x7F;
        v >>= 7;
        const bool done = (v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40));
        bytes_.push_back(done ? b : (b | 0x80));
        if (done) return *this;
    }
}

ByteVector uleb(std::uint64_t v) { return Emitter().uleb(v).data(); }
ByteVector sleb(std::int64_t v) { return Emitter().sleb(v).data(); }

ByteVector cat(std::initializer_list<ByteVector> parts) {
    ByteVector out;
    for (const ByteVector& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

namespace {
void padEntry(Emitter& out, std::size_t start) {
    while ((out.size() - start) % sizeof(TargetWord) != 0) out.u8(0);  // DW_CFA_nop
    out.patch32(start, static_cast<std::uint32_t>(out.size() - start - 4));
}
}  // namespace

std::size_t CfiBuilder::cie(const CieFields& fields) {
    const std::size_t start = out_.size();
    out_.u32(0).u32(format_ == CfiFormat::EhFrame ? 0 : 0xFFFFFFFFu);
    out_.u8(fields.version).text(fields.augmentation);
    if (fields.version == 4) out_.u8(sizeof(TargetWord)).u8(0);
    out_.uleb(fields.codeAlignment).sleb(fields.dataAlignment);
    if (fields.version == 1) out_.u8(fields.returnRegister);
    else out_.uleb(fields.returnRegister);
    if (!fields.augmentation.empty() && fields.augmentation[0] == 'z')
        out_.uleb(fields.augmentationData.size()).bytes(fields.augmentationData);
    out_.bytes(fields.instructions);
    padEntry(out_, start);
    return start;
}

std::size_t CfiBuilder::fde(std::size_t cieOffset, TargetWord begin, TargetWord range, const ByteVector& instructions,
                            std::uint8_t encoding, bool augmented) {
    const std::size_t start = out_.size();
    out_.u32(0);
    if (format_ == CfiFormat::EhFrame) out_.u32(static_cast<std::uint32_t>(start + 4 - cieOffset));
    else out_.u32(static_cast<std::uint32_t>(cieOffset));
    if (format_ == CfiFormat::DebugFrame || encoding == 0x00) {
        out_.word(begin).word(range);
    } else if (encoding == 0x1B) {
        const TargetWord field = addressOf(out_.size());
        out_.u32(static_cast<std::uint32_t>(begin - field)).u32(static_cast<std::uint32_t>(range));
    } else {
        out_.u32(static_cast<std::uint32_t>(begin)).u32(static_cast<std::uint32_t>(range));
    }
    if (augmented) out_.uleb(0);
    out_.bytes(instructions);
    padEntry(out_, start);
    return start;
}

ByteVector ehFrameHeader(TargetWord address, TargetWord ehFrame,
                         std::vector<std::pair<TargetWord, TargetWord>> entries, std::uint8_t tableEncoding) {
    std::sort(entries.begin(), entries.end());
    Emitter out;
    out.u8(1).u8(0x1B).u8(0x03).u8(tableEncoding);
    out.u32(static_cast<std::uint32_t>(ehFrame - (address + 4)));
    out.u32(static_cast<std::uint32_t>(entries.size()));
    for (const auto& [location, fde] : entries)
        out.u32(static_cast<std::uint32_t>(location - address)).u32(static_cast<std::uint32_t>(fde - address));
    return out.data();
}

void OwnedMemory::addWords(TargetWord address, std::size_t count, TargetWord first, TargetWord step) {
    Emitter out;
    for (std::size_t i = 0; i < count; ++i) out.word(first + static_cast<TargetWord>(i) * step);
    add(address, out.data());
}

void OwnedMemory::add(TargetWord address, ByteVector bytes) {
    owned_.push_back(std::make_unique<ByteVector>(std::move(bytes)));
    spans_[address] = common::ByteView(owned_.back()->data(), owned_.back()->size());
}

void OwnedMemory::addImage(const coresift::ElfImage& image, TargetWord bias) {
    image.forEachLoad([&](const coresift::ProgramHeader& load) {
        if (std::optional<common::ByteView> bytes = image.view(load.offset, load.filesz))
            addView(static_cast<TargetWord>(load.vaddr) + bias, *bytes);
        return 0;
    });
}

void OwnedMemory::poke(TargetWord address, const ByteVector& bytes) {
    auto it = spans_.upper_bound(address);
    ASSERT_NE(it, spans_.begin());
    --it;
    const TargetWord offset = address - it->first;
    ASSERT_LE(offset + bytes.size(), it->second.size());
    // Only owned spans are changed.
    std::uint8_t* data = const_cast<std::uint8_t*>(it->second.data());
    std::copy(bytes.begin(), bytes.end(), data + offset);
}

void OwnedMemory::pokeWord(TargetWord address, TargetWord value) { poke(address, Emitter().word(value).data()); }

common::ByteView OwnedMemory::bytesAt(TargetWord address) const {
    auto it = spans_.upper_bound(address);
    if (it == spans_.begin()) return {};
    --it;
    return it->second.from(address - it->first);
}

coresift::decode::RegisterState registers(std::initializer_list<std::pair<unsigned, TargetWord>> values) {
    coresift::decode::RegisterState state;
    for (const auto& [reg, value] : values) state.set(reg, value);
    return state;
}

}  // namespace testsupport

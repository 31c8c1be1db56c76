// Section contents: plain, compressed (SHF_COMPRESSED) and the MiniDebugInfo image; symbol tables.
#include "analyzer/driver/console.h"
#include "analyzer/symbols/decompress.h"
#include "analyzer/symbols/elf_image.h"
#include "analyzer/symbols/elf_layout.h"

namespace coresift {
namespace {

// The label of a section in messages: "image(section)".
std::string sectionLabel(const std::string& image, const SectionHeader& section) {
    return image + "(" + std::string(section.name) + ")";
}

// Prints why a decompression failed; `what` names the data for "Fail to unzip %s".
void reportFailure(Console& console, DecompressError error, const std::string& what) {
    if (error == DecompressError::OutOfMemory) console.error(Msg::OutOfMemory);
    else console.error(Msg::FailToUnzip, what);
}

}  // namespace

std::optional<SectionBytes> ElfImage::mapSection(Console& console, const SectionHeader& section) const {
    if (section.type == elf::kShtNobits) return std::nullopt;
    auto bytes = view(section.offset, section.size);
    if (!bytes) {
        console.warning(Msg::FailToMap, name_, std::string(section.name));
        return std::nullopt;
    }
    if (!(section.flags & elf::kShfCompressed)) return SectionBytes(*bytes);

    const elf::Layout& layout = elf::layoutOf(class_);
    auto header = elf::decodeCompressionHeader(*bytes, layout);
    if (!header) {
        console.error(Msg::FailToUnzip, sectionLabel(name_, section));
        return std::nullopt;
    }
    common::ByteView payload = bytes->from(layout.compressionHeaderSize);
    Decompressed result;
    if (header->type == elf::kCompressZstd) {
        result = decompressZstd(payload, header->size);
    } else if (header->type == elf::kCompressZlib) {
        result = inflateZlib(payload, header->size);
    } else {
        // A fixed text in both languages, not a catalog message.
        console.printMessage(0, static_cast<int>(Msg::ErrorPrefix), "DON't support compress section: %d\n",
                             static_cast<int>(header->type));
        return std::nullopt;
    }
    if (result.error != DecompressError::None) {
        reportFailure(console, result.error, sectionLabel(name_, section));
        return std::nullopt;
    }
    return SectionBytes(std::move(result.bytes));
}

std::optional<SectionBytes> ElfImage::mapSection(Console& console, std::uint32_t type, std::string_view name) const {
    auto section = findSection(type, name);
    if (!section) return std::nullopt;
    return mapSection(console, *section);
}

std::unique_ptr<ElfImage> ElfImage::miniDebugInfo(Console& console) const {
    auto section = findSection(elf::kShtProgbits, ".gnu_debugdata");
    if (!section) return nullptr;
    auto compressed = mapSection(console, *section);
    if (!compressed) return nullptr;
    Decompressed result = decompressXz(compressed->view());
    if (result.error != DecompressError::None) {
        reportFailure(console, result.error, "XzDec");
        return nullptr;
    }
    return openOwnedMemory(std::move(result.bytes), name_, class_);
}

SymbolTable ElfImage::symbolTable(std::uint32_t type) const {
    auto table = findSection(type);
    if (!table) return {};
    auto entries = view(table->offset, table->size);
    auto strings = section(table->link);
    if (!entries || !strings || strings->type == elf::kShtNobits) return {};
    auto stringBytes = view(strings->offset, strings->size);
    if (!stringBytes) return {};
    return SymbolTable(class_, *table, *entries, *strings, *stringBytes);
}

SymbolTable::SymbolTable(ElfClass elfClass, const SectionHeader& table, common::ByteView entries,
                         const SectionHeader& strings, common::ByteView stringBytes)
    : class_(elfClass), entries_(entries), strings_(stringBytes), offset_(table.offset),
      stringsOffset_(strings.offset), firstGlobal_(table.info) {
    std::uint64_t count = entries.size() / elf::layoutOf(elfClass).symbolSize;
    count_ = count > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(count);
}

std::optional<Symbol> SymbolTable::at(std::uint32_t index) const {
    if (index >= count_) return std::nullopt;
    const elf::Layout& layout = elf::layoutOf(class_);
    auto entry = entries_.sub(std::uint64_t{index} * layout.symbolSize, layout.symbolSize);
    auto symbol = entry ? elf::decodeSymbol(*entry, layout) : std::nullopt;
    if (!symbol) return std::nullopt;
    symbol->index = index;
    symbol->name = strings_.cstring(symbol->nameOffset).value_or(std::string_view());
    return symbol;
}

int SymbolTable::forEach(const std::function<int(const Symbol&)>& visit) const {
    for (std::uint32_t i = 0; i < count_; ++i) {
        auto symbol = at(i);
        if (!symbol) break;
        if (int result = visit(*symbol)) return result;
    }
    return 0;
}

}  // namespace coresift

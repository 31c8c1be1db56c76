#include "analyzer/symbols/dex_match.h"

#include <cstring>

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/symbol_file_search.h"

namespace coresift {

namespace {

constexpr std::uint32_t kTagContainerA = 0x434C4B50;
constexpr std::uint32_t kTagContainerB = 0x524D4150;
constexpr std::uint32_t kTagEnd = 0x41454E44;
constexpr std::size_t kDexHeaderSize = 112;
// No container holds more sections than this; a longer walk is a damaged file.
constexpr unsigned kMaxContainerSections = 4096;

bool startsWith(common::ByteView bytes, std::size_t at, const char* text, std::size_t length) {
    auto view = bytes.sub(at, length);
    return view && std::memcmp(view->data(), text, length) == 0;
}

// The DEX's header offsets that become table addresses, by word.
struct TableOffset {
    unsigned word;
    std::size_t at;
};
constexpr TableOffset kTables[] = {
    {dex_word::kStringIds, 60}, {dex_word::kTypeIds, 68},   {dex_word::kProtoIds, 76}, {dex_word::kFieldIds, 84},
    {dex_word::kMethodIds, 92}, {dex_word::kClassDefs, 100}, {dex_word::kMapList, 52}, {dex_word::kData, 108},
};

// A "dey" container: its version, its tagged sections (placed in `words`) and where its DEX
// starts. Nothing when the version is not 036 or the section list runs out of the file.
std::optional<std::uint32_t> readContainer(common::ByteView file, TargetWord mapAddress, DexWords& out) {
    if (!startsWith(file, 4, "036", 4)) return std::nullopt;
    auto first = file.read<std::uint32_t>(24);
    auto dexOffset = file.read<std::uint32_t>(8);
    if (!first || !dexOffset) return std::nullopt;
    std::uint64_t at = *first;
    for (unsigned n = 0; n < kMaxContainerSections; ++n) {
        auto tag = file.read<std::uint32_t>(at);
        auto size = file.read<std::uint32_t>(at + 4);
        if (!tag || !size) return std::nullopt;
        if (*tag == kTagEnd) return *dexOffset;
        if (*tag == kTagContainerA) out.words[dex_word::kContainerA] = mapAddress + static_cast<TargetWord>(at + 8);
        if (*tag == kTagContainerB) out.words[dex_word::kContainerB] = mapAddress + static_cast<TargetWord>(at + 8);
        at += (std::uint64_t{*size} + 15) & ~std::uint64_t{7};
    }
    return std::nullopt;
}

}  // namespace

std::optional<DexWords> dexWordsOf(common::ByteView file, TargetWord mapAddress, bool& unsupported) {
    unsupported = false;
    DexWords out;
    std::uint64_t dexOffset = 0;
    if (startsWith(file, 0, "dey\n", 4)) {
        auto offset = readContainer(file, mapAddress, out);
        if (!offset) {
            unsupported = true;
            return std::nullopt;
        }
        dexOffset = *offset;
    }
    auto dex = file.sub(dexOffset, kDexHeaderSize);
    if (!dex) return std::nullopt;
    const bool known = startsWith(*dex, 0, "dex\n", 4) || startsWith(*dex, 4, "036", 4) || startsWith(*dex, 4, "035", 4);
    if (!known) {
        unsupported = true;
        return std::nullopt;
    }
    const TargetWord begin = mapAddress + static_cast<TargetWord>(dexOffset);
    out.words[dex_word::kBegin] = begin;
    out.words[dex_word::kHeader] = begin;
    out.words[dex_word::kSize] = dex->read<std::uint32_t>(32).value_or(0);
    for (const TableOffset& table : kTables)
        out.words[table.word] = begin + static_cast<TargetWord>(dex->read<std::uint32_t>(table.at).value_or(0));
    return out;
}

bool matchDexFile(RunContext& context, DexRecord& record) {
    if (record.tried) return record.matched;
    record.tried = true;
    Console& console = context.console;
    auto file = findSymbolFile(context, record.path, [](const std::string&) { return true; });
    if (!file) return false;
    const std::string name = file->path();
    if (file->bytes().empty()) {
        console.warning(Msg::FailToMap, name, "LOAD");
        return false;
    }
    bool unsupported = false;
    std::optional<DexWords> words;
    if (file->size() == record.fileSize) words = dexWordsOf(file->bytes(), record.mapAddress, unsupported);
    if (unsupported) {
        console.error(Msg::UnsupportedDexFormat);
        return false;
    }
    if (!words || words->words != record.words) {
        console.error(Msg::NotMatchedProvideSame, name);
        return false;
    }
    record.file = std::move(file);
    record.matched = true;
    return true;
}

}  // namespace coresift

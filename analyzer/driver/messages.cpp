#include "analyzer/driver/messages.h"

#include <array>
#include <string>

#include "common/target_word.h"

namespace coresift {
namespace {

constexpr const char* kEnglish[kMessageCount] = {
#include "catalog_en.inc"
};

// Generated at build time from catalog_zh.inc in the output encoding of the platform.
constexpr const char* kChinese[kMessageCount] = {
#include "catalog_zh_native.inc"
};

void replaceFirst(std::string& text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// CoreSift64 prints target addresses with 16 hex digits, and a few sizes and counts as 64-bit
// numbers; the version texts name the 64-bit program. Everything else is shared.
std::string widenForAArch64(unsigned id, std::string text) {
    switch (id) {
        case 17: case 21: case 24: case 27: case 40: case 53: case 54: case 55: case 56:
        case 199: case 201: case 202: case 222: case 223: case 255:
            replaceAll(text, "0x%08X", "0x%016llX");
            break;
        case 200:  // data value, then the address
            replaceFirst(text, "0x%X", "0x%llX");
            replaceAll(text, "0x%08X", "0x%016llX");
            break;
        case 137:  // address and size
            replaceAll(text, "0x%08X", "0x%016llX");
            replaceFirst(text, "%d", "%lld");
            break;
        case 209: case 210: case 211: case 212:
            replaceAll(text, "0x%X", "0x%llX");
            break;
        case 23:
            replaceFirst(text, "%d", "%lld");
            break;
        case 174:  // count and total size; the ratio stays an int
            replaceFirst(text, "%d", "%lld");
            replaceFirst(text, "%d", "%lld");
            break;
        case 64:
            replaceFirst(text, "v3.7", "v2.5");
            break;
        case 235:
            replaceFirst(text, "CoreSift v3.7", "CoreSift64 v2.5");
            break;
        default:
            break;
    }
    return text;
}

using WideTable = std::array<std::string, kMessageCount>;

WideTable buildWideTable(const char* const (&base)[kMessageCount]) {
    WideTable table;
    for (unsigned id = 0; id < kMessageCount; ++id) table[id] = widenForAArch64(id, base[id]);
    return table;
}

}  // namespace

const char* catalogText(Language language, Msg id) {
    auto index = static_cast<unsigned>(id);
    if (index >= kMessageCount) return "";
    if constexpr (kIs64) {
        static const WideTable english = buildWideTable(kEnglish);
        static const WideTable chinese = buildWideTable(kChinese);
        return (language == Language::English ? english : chinese)[index].c_str();
    } else {
        return (language == Language::English ? kEnglish : kChinese)[index];
    }
}

}  // namespace coresift

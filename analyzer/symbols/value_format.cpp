// A value rendered symbolically for listings and the console.
//
// CoreSift: values in [0x8001, 0xFFFF0000) that a module covers are looked up as data ("name" or
// "name + offset"), then as a function starting exactly there ("name()", or "0x%08X()" when only
// the start is known); other values in [0x8001, 0xFFFF8000) print in hexadecimal, the rest in
// decimal. CoreSift64: values in (-32768, 32768] print in decimal; values below 0x8000000000
// that a module covers are looked up the same way; everything else prints in hexadecimal.
#include "analyzer/symbols/demangle.h"
#include "analyzer/symbols/symbol_lookup.h"
#include "common/text_format.h"

namespace coresift {
namespace {

std::optional<std::string> symbolic(const SourceFinder& findSource, TargetWord value) {
    SymbolSource* source = findSource ? findSource(value) : nullptr;
    if (!source) return std::nullopt;
    if (auto data = symbolAt(*source, value, lookup::kObjectMask)) {
        std::string text(source->shownName(data->name));
        TargetWord offset = value - data->start;
        if (offset != 0) text += common::format(" + %d", static_cast<int>(offset)).text;
        return text;
    }
    auto function = symbolAt(*source, value, lookup::kFunctionMask);
    if (!function || function->start != value) return std::nullopt;
    if (function->name == kUnknownFunction) return common::format(kIs64 ? "0x%016llX()" : "0x%08X()", value).text;
    return std::string(source->shownName(function->name)) + "()";
}

}  // namespace

std::string formatValue(const SourceFinder& findSource, TargetWord value) {
    if constexpr (kIs64) {
        const std::uint64_t wide = value;
        if (wide + 32768 <= 0x10000) return common::format("%lld", static_cast<long long>(static_cast<std::int64_t>(wide))).text;
        if (wide < 0x8000000000) {
            if (auto text = symbolic(findSource, value)) return *text;
        }
        return common::format("0x%016llX", value).text;
    } else {
        if (value >= 0x8001 && value < 0xFFFF8000) {
            if (value < 0xFFFF0000) {
                if (auto text = symbolic(findSource, value)) return *text;
            }
            return common::format("0x%08X", value).text;
        }
        return common::format("%d", static_cast<int>(static_cast<std::int32_t>(value))).text;
    }
}

}  // namespace coresift

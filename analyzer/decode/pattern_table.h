// The table mechanism shared by the decoder front-ends: 16 pattern groups per front-end, each a
// short list of {mask, value, template, handler} tried in order. A word matches a pattern when
// (word & mask) == value; the handler extracts the operands, ORs them into the template and calls
// one visitor slot.
#pragma once

#include <cstdint>

#include "analyzer/decode/decoder.h"

namespace coresift::decode {

using Handler = unsigned (*)(std::uint32_t instruction, std::uint32_t op, const Visitor& visitor, void* context);

struct Pattern {
    std::uint32_t mask;
    std::uint32_t value;
    std::uint32_t templ;
    Handler handler;
};

struct PatternGroup {
    const Pattern* patterns;
    unsigned count;
};

template <unsigned N>
constexpr PatternGroup group(const Pattern (&list)[N]) { return {list, N}; }
inline constexpr PatternGroup kEmptyGroup{nullptr, 0};

// Scans a group; no match is an undefined instruction.
inline unsigned dispatch(const PatternGroup& g, std::uint32_t instruction, std::uint32_t extra, const Visitor& v,
                         void* context) {
    for (unsigned i = 0; i < g.count; ++i) {
        const Pattern& p = g.patterns[i];
        if ((instruction & p.mask) == p.value) return p.handler(instruction, p.templ | extra, v, context);
    }
    return v.onUndefined(instruction, 0, context);
}

// Handlers shared by front-ends.
inline unsigned unimplemented(std::uint32_t instruction, std::uint32_t, const Visitor& v, void* context) {
    return v.onUndefined(instruction, 1, context);
}
inline unsigned undefined(std::uint32_t instruction, std::uint32_t, const Visitor& v, void* context) {
    return v.onUndefined(instruction, 0, context);
}

constexpr std::uint32_t bits(std::uint32_t word, unsigned high, unsigned low) {
    return (word >> low) & ((high - low == 31) ? ~0u : ((1u << (high - low + 1)) - 1));
}
constexpr std::uint32_t bit(std::uint32_t word, unsigned n) { return (word >> n) & 1; }
constexpr std::int64_t signExtend(std::uint64_t value, unsigned width) {
    const std::uint64_t m = std::uint64_t{1} << (width - 1);
    value &= (width == 64) ? ~std::uint64_t{0} : ((std::uint64_t{1} << width) - 1);
    return static_cast<std::int64_t>((value ^ m) - m);
}

// A small register list on the stack, ended by kRegListEnd.
struct RegisterList {
    std::uint8_t r[34];
    unsigned n = 0;
    void add(unsigned reg) { r[n++] = static_cast<std::uint8_t>(reg); r[n] = static_cast<std::uint8_t>(kRegListEnd); }
    RegisterList() { r[0] = static_cast<std::uint8_t>(kRegListEnd); }
    RegisterList(unsigned a) : RegisterList() { add(a); }
    RegisterList(unsigned a, unsigned b) : RegisterList() { add(a); add(b); }
};

}  // namespace coresift::decode

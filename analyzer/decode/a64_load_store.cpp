// A64 loads and stores: exclusive and ordered forms, pairs, literal loads, unscaled / pre / post /
// unprivileged immediate forms, atomic memory operations, register offsets, pointer-authenticated
// loads, unsigned offsets and the memory tagging stores.
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 64  // the A64 front-end exists in CoreSift64 only

#include "analyzer/decode/a64_groups.h"

namespace coresift::decode::a64 {
namespace {

// What a single-register size/V/opc combination transfers.
struct Access {
    bool valid = false;
    bool load = false;
    bool signExtend = false;
    bool prefetch = false;
    unsigned regSize = 0;  // register size (0..3)
    unsigned element = 0;  // memory element size (0..4)
};

Access classify(unsigned size, bool vector, unsigned opc) {
    Access a;
    a.valid = true;
    if (vector) {
        if (opc & 2) {
            if (size != 0) return Access{};
            a.element = kQuad;
        } else {
            a.element = size;
        }
        a.load = opc & 1;
        a.regSize = a.element > kDouble ? kDouble : a.element;
        return a;
    }
    a.element = size;
    switch (opc) {
    case 0: a.regSize = size == 3 ? kDouble : kWord; break;
    case 1: a.regSize = size == 3 ? kDouble : kWord; a.load = true; break;
    case 2:
        if (size == 3) { a.prefetch = true; a.load = true; break; }
        a.load = a.signExtend = true; a.regSize = kDouble;
        break;
    default:
        if (size >= 2) return Access{};
        a.load = a.signExtend = true; a.regSize = kWord;
        break;
    }
    return a;
}

std::uint32_t accessOp(const Access& a) {
    std::uint32_t op = sizes(a.regSize, 0) | withElement(a.element);
    if (a.load) op |= op::kLoad;
    if (a.signExtend) op |= op::kSignExtend;
    if (a.prefetch) op |= withVariant(Variant::Prefetch);
    return op;
}

unsigned transferRegister(unsigned field, bool vector) { return vector ? kRegVector0 + field : zrOr(field); }
unsigned scaleOf(const Access& a) { return a.element; }

unsigned single(const Visitor& v, void* c, std::uint32_t op, const Access& a, unsigned rt, bool vector,
                unsigned base, unsigned index, std::int64_t offset) {
    // A prefetch carries its operation (not a register) in the list.
    RegisterList list(a.prefetch ? rt : transferRegister(rt, vector));
    return v.onLoadStore(op | accessOp(a), list.r, base, index, offset, c);
}

// ---- Exclusive, ordered and compare-and-swap (bits 29..24 = 001000) ----
unsigned exclusive(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned size = bits(w, 31, 30), o2 = bit(w, 23), load = bit(w, 22), o1 = bit(w, 21), o0 = bit(w, 15);
    const unsigned rs = bits(w, 20, 16), rt2 = bits(w, 14, 10), rn = bits(w, 9, 5), rt = bits(w, 4, 0);
    const unsigned regSize = size == 3 ? kDouble : kWord;
    op |= sizes(regSize, 0) | withElement(size) | (load ? op::kLoad : 0);
    if (o2 == 0 && o1 == 1 && size < 2) return v.onUndefined(w, 1, c);  // CASP pairs are not modelled
    if (o2 == 1 && o1 == 1) {  // CAS: rs is compared and receives the old value, rt is stored
        if (rt2 != 31) return v.onUndefined(w, 0, c);
        op |= op::kLoad | withVariant(Variant::CompareSwap);
        RegisterList list(zrOr(rs));
        return v.onLoadStore(op, list.r, spOr(rn), zrOr(rt), 0, c);
    }
    if (o2 == 1) {  // ordered (load-acquire / store-release); rs and rt2 are fixed to ones
        op |= withVariant(Variant::Ordered);
        RegisterList list(zrOr(rt));
        return v.onLoadStore(op, list.r, spOr(rn), kRegNone, 0, c);
    }
    op |= withVariant(o0 ? Variant::OrderedExclusive : Variant::Exclusive);
    RegisterList list(zrOr(rt));
    if (o1) list.add(zrOr(rt2));
    const unsigned status = load ? kRegNone : zrOr(rs);
    return v.onLoadStore(op, list.r, spOr(rn), status, 0, c);
}

// ---- Pairs (bits 29..27 = 101) ----
unsigned pair(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned opc = bits(w, 31, 30), index = bits(w, 24, 23), load = bit(w, 22);
    const bool vector = bit(w, 26);
    unsigned regSize, element, scale;
    bool sign = false, tag = false;
    if (vector) {
        if (opc == 3) return v.onUndefined(w, 0, c);
        element = kWord + opc;
        regSize = element > kDouble ? kDouble : element;
        scale = element;
    } else {
        switch (opc) {
        case 0: regSize = kWord; element = kWord; scale = 2; break;
        case 1:
            if (load) { regSize = kDouble; element = kWord; scale = 2; sign = true; }
            else { regSize = kDouble; element = kDouble; scale = 4; tag = true; }  // STGP
            if (index == 0) return v.onUndefined(w, 0, c);
            break;
        case 2: regSize = kDouble; element = kDouble; scale = 3; break;
        default: return v.onUndefined(w, 0, c);
        }
    }
    op |= sizes(regSize, 0) | withElement(element) | (load ? op::kLoad : 0) | (sign ? op::kSignExtend : 0);
    switch (index) {
    case 0: op |= withVariant(Variant::NonTemporal); break;
    case 1: op |= op::kPostIndex | op::kWriteBack; break;
    case 3: op |= op::kWriteBack; break;
    default: break;
    }
    if (tag) op |= withVariant(Variant::Tag);
    const std::int64_t offset = signExtend(bits(w, 21, 15), 7) * (std::int64_t{1} << scale);
    RegisterList list(transferRegister(bits(w, 4, 0), vector), transferRegister(bits(w, 14, 10), vector));
    return v.onLoadStore(op, list.r, spOr(bits(w, 9, 5)), kRegNone, offset, c);
}

// ---- Literal loads (bits 29..27 = 011, bit 24 = 0, bits 21 = x) ----
unsigned literal(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned opc = bits(w, 31, 30);
    const bool vector = bit(w, 26);
    Access a;
    if (vector) {
        if (opc == 3) return v.onUndefined(w, 0, c);
        a = classify(opc == 2 ? 0 : opc + 2, true, opc == 2 ? 3 : 1);
    } else {
        switch (opc) {
        case 0: a = classify(2, false, 1); break;
        case 1: a = classify(3, false, 1); break;
        case 2: a = classify(2, false, 2); break;
        default: a = classify(3, false, 2); break;  // PRFM literal
        }
    }
    const std::int64_t offset = signExtend(bits(w, 23, 5), 19) * 4;
    return single(v, c, op, a, bits(w, 4, 0), vector, kRegPc, kRegNone, offset);
}

// ---- LDAPUR/STLUR (bits 29..24 = 011001, bit 21 = 0, bits 11..10 = 00) ----
unsigned orderedUnscaled(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned size = bits(w, 31, 30), opc = bits(w, 23, 22);
    if (bit(w, 26) || bits(w, 11, 10)) return v.onUndefined(w, 0, c);
    Access a = classify(size, false, opc);
    if (!a.valid || a.prefetch) return v.onUndefined(w, 0, c);
    op |= withVariant(Variant::OrderedUnscaled);
    return single(v, c, op, a, bits(w, 4, 0), false, spOr(bits(w, 9, 5)), kRegNone, signExtend(bits(w, 20, 12), 9));
}

// ---- Memory tagging (0xD9, bit 21 = 1) ----
unsigned memoryTag(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned opc = bits(w, 23, 22), mode = bits(w, 11, 10);
    const std::int64_t offset = signExtend(bits(w, 20, 12), 9) * 16;
    const unsigned rn = spOr(bits(w, 9, 5)), rt = bits(w, 4, 0);
    op |= sizes(kDouble, 0) | withElement(kQuad) | withVariant(Variant::Tag);
    if (mode == 0) {
        if (opc != 1) return v.onUndefined(w, 1, c);  // STZGM/STGM/LDGM
        RegisterList list(zrOr(rt));
        return v.onLoadStore(op | op::kLoad, list.r, rn, kRegNone, offset, c);  // LDG
    }
    if (opc != 0) return v.onUndefined(w, 1, c);  // STZG, ST2G, STZ2G are not modelled
    if (mode == 1) op |= op::kPostIndex | op::kWriteBack;
    if (mode == 3) op |= op::kWriteBack;
    RegisterList list(spOr(rt));
    return v.onLoadStore(op, list.r, rn, kRegNone, offset, c);
}

// ---- Register forms with bits 29..28 = 11, bit 24 = 0 ----
unsigned immediateIndexed(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned size = bits(w, 31, 30), opc = bits(w, 23, 22), mode = bits(w, 11, 10);
    const bool vector = bit(w, 26);
    Access a = classify(size, vector, opc);
    if (!a.valid) return v.onUndefined(w, 0, c);
    if (a.prefetch && mode != 0) return v.onUndefined(w, 0, c);
    if (vector && mode == 2) return v.onUndefined(w, 0, c);
    switch (mode) {
    case 0: if (!a.prefetch) op |= withVariant(Variant::Unscaled); break;
    case 1: op |= op::kPostIndex | op::kWriteBack; break;
    case 2: op |= withVariant(Variant::Unprivileged); break;
    default: op |= op::kWriteBack; break;
    }
    return single(v, c, op, a, bits(w, 4, 0), vector, spOr(bits(w, 9, 5)), kRegNone, signExtend(bits(w, 20, 12), 9));
}

unsigned atomic(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bit(w, 26)) return v.onUndefined(w, 0, c);
    const unsigned size = bits(w, 31, 30), o3 = bit(w, 15), opc = bits(w, 14, 12);
    const unsigned rs = bits(w, 20, 16), rn = bits(w, 9, 5), rt = bits(w, 4, 0);
    op |= sizes(size == 3 ? kDouble : kWord, 0) | withElement(size);
    if (o3) {
        if (opc == 4 && bit(w, 23) && !bit(w, 22) && rs == 31) {  // LDAPR
            RegisterList list(zrOr(rt));
            return v.onLoadStore(op | op::kLoad | withVariant(Variant::Ordered), list.r, spOr(rn), kRegNone, 0, c);
        }
        if (opc != 0) return v.onUndefined(w, 0, c);
        op |= withVariant(Variant::Swap);
    } else {
        op |= withVariant(static_cast<Variant>(static_cast<unsigned>(Variant::AtomicAdd) + opc));
    }
    // rs is the operand stored, rt receives the old value; without a receiver it is a store form.
    if (rt != 31 || o3) op |= op::kLoad;
    RegisterList list(zrOr(rt));
    return v.onLoadStore(op, list.r, spOr(rn), zrOr(rs), 0, c);
}

unsigned registerOffset(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned size = bits(w, 31, 30), opc = bits(w, 23, 22), option = bits(w, 15, 13);
    const bool vector = bit(w, 26);
    Access a = classify(size, vector, opc);
    if (!a.valid || !(option & 2)) return v.onUndefined(w, 0, c);
    const unsigned amount = bit(w, 12) ? scaleOf(a) : 0;
    std::int64_t field = 0;
    if ((option == 3 && amount == 0) || bits(w, 20, 16) == 31) {
        // plain register index; a zero register index adds nothing
    } else {
        op |= withShift(Shift::Field) | ((option & 4) ? op::kSigned : 0);
        field = static_cast<std::int64_t>(extendField((option & 1) ? 64 : 32, amount, 64));
    }
    return single(v, c, op, a, bits(w, 4, 0), vector, spOr(bits(w, 9, 5)), zrOr(bits(w, 20, 16)), field);
}

unsigned authenticated(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    if (bits(w, 31, 30) != 3 || bit(w, 26)) return v.onUndefined(w, 0, c);
    const std::int64_t offset = signExtend((bit(w, 22) << 9) | bits(w, 20, 12), 10) * 8;
    op |= sizes(kDouble, kDouble) | withElement(kDouble) | op::kLoad | (bit(w, 11) ? op::kWriteBack : 0);
    RegisterList list(zrOr(bits(w, 4, 0)));
    return v.onLoadStore(op, list.r, spOr(bits(w, 9, 5)), kRegNone, offset, c);
}

unsigned unsignedOffset(std::uint32_t w, std::uint32_t op, const Visitor& v, void* c) {
    const unsigned size = bits(w, 31, 30), opc = bits(w, 23, 22);
    const bool vector = bit(w, 26);
    Access a = classify(size, vector, opc);
    if (!a.valid) return v.onUndefined(w, 0, c);
    const std::int64_t offset = std::int64_t{bits(w, 21, 10)} << scaleOf(a);
    return single(v, c, op, a, bits(w, 4, 0), vector, spOr(bits(w, 9, 5)), kRegNone, offset);
}

// Groups 0100 and 0110 (bit 28 = 0): exclusive, pairs with bit 29, vector structures.
constexpr Pattern kPairList[] = {
    {0x3F000000, 0x08000000, 0, exclusive},
    {0x3A000000, 0x28000000, 0, pair},
    {0xBFBF0000, 0x0C000000, 0, unimplemented},  // structure load/store, multiple
    {0xBFA00000, 0x0C800000, 0, unimplemented},  // multiple, post-indexed
    {0xBF9F0000, 0x0D000000, 0, unimplemented},  // single
    {0xBF800000, 0x0D800000, 0, unimplemented},  // single, post-indexed
};
// Groups 1100 and 1110 (bit 28 = 1).
constexpr Pattern kRegisterList[] = {
    {0x3B000000, 0x18000000, 0, literal},
    {0x3F200000, 0x19000000, 0, orderedUnscaled},
    {0xFF200000, 0xD9200000, 0, memoryTag},
    {0x3B200000, 0x38000000, 0, immediateIndexed},
    {0x3B200C00, 0x38200000, 0, atomic},
    {0x3B200C00, 0x38200800, 0, registerOffset},
    {0x3B200400, 0x38200400, 0, authenticated},
    {0x3B000000, 0x39000000, 0, unsignedOffset},
};

}  // namespace

const PatternGroup kLoadStorePairGroup = group(kPairList);
const PatternGroup kLoadStoreRegisterGroup = group(kRegisterList);

}  // namespace coresift::decode::a64

#endif

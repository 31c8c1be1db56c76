// Data-processing arithmetic on known register values.
#include "analyzer/decode/value_math.h"

namespace coresift::decode {
namespace {

constexpr std::uint64_t ones(unsigned n) { return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1; }
constexpr std::uint64_t extend(std::uint64_t v, unsigned width, bool isSigned) {
    v &= ones(width);
    if (isSigned && width < 64 && (v >> (width - 1) & 1)) v |= ~ones(width);
    return v;
}
constexpr std::uint64_t rotate(std::uint64_t v, unsigned n, unsigned bits) {
    n %= bits;
    return n ? ((v >> n) | (v << (bits - n))) & ones(bits) : v;
}
unsigned widthOf(std::uint32_t op) { return kIs64 && sizeOf(op) == kDouble ? 64 : 32; }

std::uint64_t shiftByRegister(Shift s, bool isSigned, std::uint64_t v, std::uint64_t amount, unsigned bits) {
    if (!kIs64 || bits == 32) amount &= 0xFF;  // A32/T32 use the low byte of the shift register
    if (kIs64) amount %= bits;                  // A64 variable shifts take the amount modulo the width
    switch (s) {
    case Shift::Lsl: return amount >= bits ? 0 : (v << amount) & ones(bits);
    case Shift::Lsr:
        if (isSigned) return amount >= bits ? extend(v, bits, true) >> (bits - 1) & ones(bits) : (extend(v, bits, true) >> amount) & ones(bits);
        return amount >= bits ? 0 : v >> amount;
    case Shift::Ror: return rotate(v, static_cast<unsigned>(amount % bits), bits);
    default: return v;
    }
}

std::uint64_t reverseBits(std::uint64_t v, unsigned bits) {
    std::uint64_t r = 0;
    for (unsigned i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
    return r;
}
std::uint64_t reverseBytesIn(std::uint64_t v, unsigned chunkBits, unsigned bits) {
    std::uint64_t r = 0;
    for (unsigned base = 0; base < bits; base += chunkBits)
        for (unsigned b = 0; b < chunkBits; b += 8) r |= ((v >> (base + b)) & 0xFF) << (base + chunkBits - 8 - b);
    return r;
}
unsigned leadingZeros(std::uint64_t v, unsigned bits) {
    unsigned n = 0;
    for (int i = static_cast<int>(bits) - 1; i >= 0 && !((v >> i) & 1); --i) ++n;
    return n;
}

}  // namespace

std::uint64_t applyField(std::uint64_t value, std::uint64_t field, bool isSigned, unsigned bits) {
    value &= ones(bits);
    const FieldMeaning m = interpretField(field, isSigned, bits);
    switch (m.kind) {
    case FieldKind::Lsl: return m.amount >= bits ? 0 : (value << m.amount) & ones(bits);
    case FieldKind::Lsr: return m.amount >= bits ? 0 : value >> m.amount;
    case FieldKind::Asr: {
        const std::uint64_t s = extend(value, bits, true);
        const unsigned n = m.amount >= bits ? bits - 1 : m.amount;
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(s) >> n) & ones(bits);
    }
    case FieldKind::Ror: return rotate(value, m.amount, bits);
    case FieldKind::Extend: return (extend(value, m.width, isSigned) << m.amount) & ones(bits);
    case FieldKind::Extract: return extend(value >> m.amount, m.width, isSigned) & ones(bits);
    case FieldKind::Insert: return (extend(value, m.width, isSigned) << m.amount) & ones(bits);
    }
    return value;
}

std::optional<TargetWord> evaluate(std::uint32_t op, unsigned rn, unsigned rm, std::uint64_t immediate,
                                   const DpInputs& in) {
    const unsigned bits = widthOf(op);
    const std::uint64_t mask = ones(bits);
    const DpClass cls = classOf(op);
    const bool hasRn = rn != kRegNone, hasRm = rm != kRegNone;
    if ((hasRn && !in.rn) || (hasRm && !in.rm)) return std::nullopt;
    const std::uint64_t a = hasRn ? (*in.rn & mask) : 0;
    std::uint64_t b = hasRm ? (*in.rm & mask) : immediate & mask;
    if (has(op, op::kCarry) && cls != DpClass::Csel) return std::nullopt;
    if (hasRm && (cls == DpClass::Add || cls == DpClass::Rsb || cls == DpClass::And || cls == DpClass::Orr ||
                  cls == DpClass::Eor)) {
        const Shift s = shiftOf(op);
        if (s == Shift::Rrx) return std::nullopt;
        if (s == Shift::Field) b = applyField(b, immediate, has(op, op::kSigned), bits);
        else if (has(op, op::kShiftByRegister)) {
            if (!in.shift) return std::nullopt;
            b = shiftByRegister(s, has(op, op::kSigned), b, *in.shift, bits);
        }
    }
    std::uint64_t r;
    switch (cls) {
    case DpClass::Add:
        if (has(op, op::kTag)) return std::nullopt;
        r = isSubtract(op) ? a - b : a + b;
        break;
    case DpClass::Rsb: r = b - a; break;
    case DpClass::And: r = a & (isInvertedOnly(op) ? ~b : b); break;
    case DpClass::Orr: r = a | (isInvertedOnly(op) ? ~b : b); break;
    case DpClass::Eor: r = a ^ (isInvertedOnly(op) ? ~b : b); break;
    case DpClass::Adrp: r = (in.pc & ~std::uint64_t{0xFFF}) + immediate; break;
    case DpClass::Movk: {
        if (!in.rd) return std::nullopt;
        const unsigned s = 16 * ((immediate >> 20) & 3);
        r = (*in.rd & ~(std::uint64_t{0xFFFF} << s)) | ((immediate & 0xFFFF) << s);
        break;
    }
    case DpClass::Lsl: r = (a << (b % bits)) & mask; break;
    case DpClass::Lsr: r = a >> (b % bits); break;
    case DpClass::Asr: r = static_cast<std::uint64_t>(static_cast<std::int64_t>(extend(a, bits, true)) >> (b % bits)); break;
    case DpClass::Ror: r = rotate(a, static_cast<unsigned>(b % bits), bits); break;
    case DpClass::Extr: {
        const unsigned lsb = static_cast<unsigned>(immediate) % bits;
        r = lsb ? (b >> lsb) | (a << (bits - lsb)) : b;
        break;
    }
    case DpClass::Bfxil: {
        if (!in.rd) return std::nullopt;
        const unsigned immr = fieldRotation(immediate), imms = fieldTop(immediate);
        if (imms >= immr) {
            const unsigned width = imms - immr + 1;
            r = (*in.rd & ~ones(width)) | ((a >> immr) & ones(width));
        } else {
            const unsigned lsb = bits - immr, width = imms + 1;
            r = (*in.rd & ~(ones(width) << lsb)) | ((a & ones(width)) << lsb);
        }
        break;
    }
    case DpClass::Rbit: r = reverseBits(a, bits); break;
    case DpClass::Rev: r = reverseBytesIn(a, bits, bits); break;
    case DpClass::Rev16: r = reverseBytesIn(a, 16, bits); break;
    case DpClass::Rev32: r = reverseBytesIn(a, 32, bits); break;
    case DpClass::Clz: r = leadingZeros(a, bits); break;
    case DpClass::Cls: {
        const std::uint64_t x = (a ^ (a << 1)) & mask;
        r = leadingZeros(x | 1, bits);
        break;
    }
    case DpClass::Madd: {
        if (sizeOf(op) > sourceSizeOf(op) && !kIs64) return std::nullopt;  // RdLo/RdHi pair
        const unsigned accumulatorRegister = static_cast<unsigned>(immediate & 0xFF);
        std::uint64_t acc = 0;
        if (accumulatorRegister != kRegNone) {
            if (!in.accumulator) return std::nullopt;
            acc = *in.accumulator;
        }
        std::uint64_t x = a, y = b;
        if (sizeOf(op) > sourceSizeOf(op)) {  // 32 x 32 -> 64
            x = extend(a, 32, has(op, op::kSigned));
            y = extend(b, 32, has(op, op::kSigned));
        }
        const std::uint64_t product = x * y;
        r = isSubtract(op) ? acc - product : acc + product;
        break;
    }
    case DpClass::Mulh: {
        if (has(op, op::kSigned)) {
            const __int128 p = static_cast<__int128>(static_cast<std::int64_t>(a)) * static_cast<std::int64_t>(b);
            r = static_cast<std::uint64_t>(p >> 64);
        } else {
            const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
            r = static_cast<std::uint64_t>(p >> 64);
        }
        break;
    }
    case DpClass::Div:
        if (b == 0) { r = 0; break; }
        if (has(op, op::kSigned)) {
            const std::int64_t x = static_cast<std::int64_t>(extend(a, bits, true));
            const std::int64_t y = static_cast<std::int64_t>(extend(b, bits, true));
            if (y == -1) r = static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(x);
            else r = static_cast<std::uint64_t>(x / y);
        } else {
            r = a / b;
        }
        break;
    default: return std::nullopt;  // CSEL, CCMP: the flags decide
    }
    return static_cast<TargetWord>(r & mask);
}

}  // namespace coresift::decode

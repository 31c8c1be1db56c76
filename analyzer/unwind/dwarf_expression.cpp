#include "analyzer/unwind/dwarf_expression.h"

#include <array>
#include <type_traits>

#include "analyzer/unwind/cfi_messages.h"

namespace coresift::unwind {
namespace {

namespace op {
inline constexpr std::uint8_t kAddr = 0x03, kDeref = 0x06, kConst1u = 0x08, kConst1s = 0x09, kConst2u = 0x0A,
                              kConst2s = 0x0B, kConst4u = 0x0C, kConst4s = 0x0D, kConst8u = 0x0E, kConst8s = 0x0F,
                              kConstu = 0x10, kConsts = 0x11, kDup = 0x12, kDrop = 0x13, kOver = 0x14, kPick = 0x15,
                              kSwap = 0x16, kRot = 0x17, kAbs = 0x19, kAnd = 0x1A, kDiv = 0x1B, kMinus = 0x1C,
                              kMod = 0x1D, kMul = 0x1E, kNeg = 0x1F, kNot = 0x20, kOr = 0x21, kPlus = 0x22,
                              kPlusUconst = 0x23, kShl = 0x24, kShr = 0x25, kShra = 0x26, kXor = 0x27, kBra = 0x28,
                              kEq = 0x29, kGe = 0x2A, kGt = 0x2B, kLe = 0x2C, kLt = 0x2D, kNe = 0x2E, kSkip = 0x2F,
                              kLit0 = 0x30, kLit31 = 0x4F, kReg0 = 0x50, kReg31 = 0x6F, kBreg0 = 0x70,
                              kBreg31 = 0x8F, kRegx = 0x90, kFbreg = 0x91, kBregx = 0x92, kPiece = 0x93,
                              kDerefSize = 0x94, kNop = 0x96, kCallFrameCfa = 0x9C, kBitPiece = 0x9D,
                              kImplicitValue = 0x9E, kStackValue = 0x9F, kImplicitPointer = 0xA0, kAddrx = 0xA1,
                              kConstx = 0xA2, kEntryValue = 0xA3, kConstType = 0xA4, kRegvalType = 0xA5,
                              kDerefType = 0xA6, kGnuImplicitPointer = 0xF2, kGnuEntryValue = 0xF3,
                              kGnuConstType = 0xF4, kGnuRegvalType = 0xF5, kGnuDerefType = 0xF6, kGnuAddrIndex = 0xFB,
                              kGnuConstIndex = 0xFC;
}  // namespace op

// Signed arithmetic and comparisons work on the target's address-sized generic type.
using SignedWord = std::make_signed_t<TargetWord>;
SignedWord asSigned(std::uint64_t v) { return static_cast<SignedWord>(static_cast<TargetWord>(v)); }
// Address arithmetic wraps at the target's width; typed constants and wide memory reads keep
// their 64 bits.
std::uint64_t generic(std::uint64_t v) { return static_cast<TargetWord>(v); }

class ExpressionMachine {
public:
    explicit ExpressionMachine(const ExpressionContext& context) : c_(context) {}

    std::optional<std::uint64_t> run(common::ByteView expression, unsigned width, bool isLocation) {
        if (!push(c_.initialValue)) return std::nullopt;
        common::ByteReader r(expression);
        unsigned operations = 0;
        while (!r.atEnd()) {
            if (++operations > c_.maxOperations) return std::nullopt;
            const std::uint8_t opcode = r.u8();
            if (!execute(r, opcode)) return std::nullopt;
            if (!r.ok()) {
                reportUnrecognizedOpcode(c_.names, opcode);
                return std::nullopt;
            }
        }
        std::uint64_t result = 0;
        if (pieceBits_ != 0) {
            result = composite_;
            isValue_ = true;
        } else if (!top(result)) {
            return std::nullopt;
        }
        if (!isLocation || isValue_) return result;
        if (width != 4 && width != 8) {
            reportInvalidIndex(c_.names, Msg::WordSize, width);
            return std::nullopt;
        }
        return readMemory(static_cast<TargetWord>(result), width);
    }

private:
    bool execute(common::ByteReader& r, std::uint8_t opcode) {
        if (opcode >= op::kLit0 && opcode <= op::kLit31) return push(opcode - op::kLit0);
        if (opcode >= op::kReg0 && opcode <= op::kReg31) return pushRegister(opcode - op::kReg0, 0, true);
        if (opcode >= op::kBreg0 && opcode <= op::kBreg31) return pushRegister(opcode - op::kBreg0, r.sleb128(), false);
        switch (opcode) {
            case op::kAddr: return push(r.read<TargetWord>());
            case op::kConst1u: return push(r.u8());
            case op::kConst1s: return pushSigned(r.s8());
            case op::kConst2u: return push(r.u16());
            case op::kConst2s: return pushSigned(r.s16());
            case op::kConst4u: return push(r.u32());
            case op::kConst4s: return pushSigned(r.s32());
            case op::kConst8u:
                if (!kIs64) break;
                return push(r.u64());
            case op::kConst8s:
                if (!kIs64) break;
                return pushSigned(r.s64());
            case op::kConstu: return push(r.uleb128());
            case op::kConsts: return pushSigned(r.sleb128());
            case op::kConstType:
            case op::kGnuConstType: return constType(r);
            case op::kRegx: return pushRegister(r.uleb128(), 0, true);
            case op::kBregx: {
                const std::uint64_t reg = r.uleb128();
                return pushRegister(reg, r.sleb128(), false);
            }
            case op::kRegvalType:
            case op::kGnuRegvalType: {
                const std::uint64_t reg = r.uleb128();
                r.uleb128();  // type
                return pushRegister(reg, 0, false);
            }
            case op::kFbreg: {
                const std::int64_t offset = r.sleb128();
                if (!c_.frameBase) return false;
                return push(generic(*c_.frameBase + static_cast<std::uint64_t>(offset)));
            }
            case op::kCallFrameCfa: return push(c_.cfa);
            case op::kAddrx:
            case op::kConstx:
            case op::kGnuAddrIndex:
            case op::kGnuConstIndex: return pushIndexedAddress(r.uleb128());
            case op::kDup: return pick(0);
            case op::kDrop: {
                std::uint64_t v;
                return pop(v);
            }
            case op::kOver: return pick(1);
            case op::kPick: return pick(r.u8());
            case op::kSwap: return swap();
            case op::kRot: return rotate();
            case op::kDeref: return dereference(kAddressSize);
            case op::kDerefSize: return derefSized(r.u8());
            case op::kDerefType:
            case op::kGnuDerefType: {
                const std::uint8_t size = r.u8();
                r.uleb128();  // type
                return derefSized(size);
            }
            case op::kAbs: return unary([](std::uint64_t a) {
                const SignedWord s = asSigned(a);
                return static_cast<std::uint64_t>(s < 0 ? -static_cast<TargetWord>(s) : static_cast<TargetWord>(s));
            });
            case op::kNeg: return unary([](std::uint64_t a) { return ~a + 1; });
            case op::kNot: return unary([](std::uint64_t a) { return ~a; });
            case op::kPlusUconst: {
                const std::uint64_t n = r.uleb128();
                return unary([n](std::uint64_t a) { return a + n; });
            }
            case op::kAnd: return binary([](std::uint64_t a, std::uint64_t b) { return a & b; });
            case op::kOr: return binary([](std::uint64_t a, std::uint64_t b) { return a | b; });
            case op::kXor: return binary([](std::uint64_t a, std::uint64_t b) { return a ^ b; });
            case op::kPlus: return binary([](std::uint64_t a, std::uint64_t b) { return a + b; });
            case op::kMinus: return binary([](std::uint64_t a, std::uint64_t b) { return a - b; });
            case op::kMul: return binary([](std::uint64_t a, std::uint64_t b) { return a * b; });
            case op::kDiv: return binary([](std::uint64_t a, std::uint64_t b) -> std::uint64_t {
                const SignedWord x = asSigned(a), y = asSigned(b);
                if (y == 0) return 0;
                if (y == -1) return static_cast<std::uint64_t>(static_cast<SignedWord>(-static_cast<TargetWord>(x)));
                return static_cast<std::uint64_t>(static_cast<std::int64_t>(x / y));
            });
            case op::kMod: return binary([](std::uint64_t a, std::uint64_t b) -> std::uint64_t {
                const TargetWord x = static_cast<TargetWord>(a), y = static_cast<TargetWord>(b);
                return y == 0 ? 0 : x % y;
            });
            case op::kShl: return binary([](std::uint64_t a, std::uint64_t b) { return b >= 64 ? 0 : a << b; });
            case op::kShr: return binary([](std::uint64_t a, std::uint64_t b) { return b >= 64 ? 0 : a >> b; });
            case op::kShra: return binary([](std::uint64_t a, std::uint64_t b) -> std::uint64_t {
                const SignedWord s = asSigned(a);
                const unsigned bits = sizeof(TargetWord) * 8;
                const SignedWord shifted = b >= bits ? (s < 0 ? -1 : 0) : static_cast<SignedWord>(s >> b);
                return static_cast<std::uint64_t>(static_cast<std::int64_t>(shifted));
            });
            case op::kEq: return compare([](SignedWord a, SignedWord b) { return a == b; });
            case op::kGe: return compare([](SignedWord a, SignedWord b) { return a >= b; });
            case op::kGt: return compare([](SignedWord a, SignedWord b) { return a > b; });
            case op::kLe: return compare([](SignedWord a, SignedWord b) { return a <= b; });
            case op::kLt: return compare([](SignedWord a, SignedWord b) { return a < b; });
            case op::kNe: return compare([](SignedWord a, SignedWord b) { return a != b; });
            case op::kSkip: return jump(r, r.s16());
            case op::kBra: {
                const std::int16_t offset = r.s16();
                std::uint64_t condition;
                if (!pop(condition)) return false;
                return condition == 0 ? true : jump(r, offset);
            }
            case op::kNop: return true;
            case op::kPiece: {
                const std::uint64_t bytes = r.uleb128();
                return piece(bytes > 8 ? 65 : bytes * 8);
            }
            case op::kBitPiece: {
                const std::uint64_t bits = r.uleb128();
                r.uleb128();  // offset within the source
                return piece(bits);
            }
            case op::kStackValue: isValue_ = true; return true;
            case op::kImplicitValue: return implicitValue(r);
            case op::kImplicitPointer:
            case op::kGnuImplicitPointer:
            case op::kEntryValue:
            case op::kGnuEntryValue: return false;
            default: break;
        }
        reportUnrecognizedOpcode(c_.names, opcode);
        return false;
    }

    bool push(std::uint64_t value) {
        if (size_ >= kExpressionStackSize) {
            reportExpressionOverflow(c_.names);
            return false;
        }
        stack_[size_++] = value;
        return true;
    }
    bool pushSigned(std::int64_t value) { return push(static_cast<std::uint64_t>(value)); }
    bool pop(std::uint64_t& value) {
        if (size_ == 0) {
            reportExpressionUnderflow(c_.names);
            return false;
        }
        value = stack_[--size_];
        return true;
    }
    bool top(std::uint64_t& value) {
        if (size_ == 0) {
            reportExpressionUnderflow(c_.names);
            return false;
        }
        value = stack_[size_ - 1];
        return true;
    }
    bool pick(unsigned index) {
        if (index >= size_) {
            reportInvalidIndex(c_.names, Msg::WordStack, index);
            return false;
        }
        return push(stack_[size_ - 1 - index]);
    }
    bool swap() {
        if (size_ < 2) return underflow();
        std::swap(stack_[size_ - 1], stack_[size_ - 2]);
        return true;
    }
    bool rotate() {
        if (size_ < 3) return underflow();
        const std::uint64_t first = stack_[size_ - 1];
        stack_[size_ - 1] = stack_[size_ - 2];
        stack_[size_ - 2] = stack_[size_ - 3];
        stack_[size_ - 3] = first;
        return true;
    }
    bool underflow() {
        reportExpressionUnderflow(c_.names);
        return false;
    }
    template <class F>
    bool unary(F f) {
        std::uint64_t a;
        if (!pop(a)) return false;
        return push(generic(f(a)));
    }
    template <class F>
    bool binary(F f) {
        std::uint64_t b, a;
        if (!pop(b) || !pop(a)) return false;
        return push(generic(f(a, b)));
    }
    template <class F>
    bool compare(F f) {
        std::uint64_t b, a;
        if (!pop(b) || !pop(a)) return false;
        return push(f(asSigned(a), asSigned(b)) ? 1 : 0);
    }

    // A register's value (plus `offset`); a register that is not known ends the evaluation.
    bool pushRegister(std::uint64_t reg, std::int64_t offset, bool isValue) {
        if (!c_.registers || reg >= kRuleCount || !c_.registers->known(static_cast<unsigned>(reg))) return false;
        if (isValue) isValue_ = true;
        return push(generic(static_cast<std::uint64_t>(c_.registers->r[reg]) + static_cast<std::uint64_t>(offset)));
    }
    bool pushIndexedAddress(std::uint64_t index) {
        if (!c_.debugAddr) return false;
        if (index > (~std::uint64_t{0} - c_.addrBase) / kAddressSize) return false;
        std::optional<TargetWord> entry = c_.debugAddr->read<TargetWord>(c_.addrBase + index * kAddressSize);
        if (!entry) return false;
        return push(*entry == 0 ? 0 : *entry + c_.loadBias);
    }
    bool constType(common::ByteReader& r) {
        r.uleb128();  // type
        const std::uint8_t size = r.u8();
        if (!r.ok()) return true;  // reported as a cut operand
        if (size < 1 || size > 8) {
            reportInvalidIndex(c_.names, Msg::WordSize, size);
            return false;
        }
        const common::ByteView bytes = r.bytes(size);
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) value |= std::uint64_t{bytes.data()[i]} << (8 * i);
        return push(value);
    }
    bool implicitValue(common::ByteReader& r) {
        const common::ByteView bytes = r.bytes(r.uleb128());
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) value |= std::uint64_t{bytes.data()[i]} << (8 * i);
        isValue_ = true;
        return push(value);
    }

    std::optional<std::uint64_t> readMemory(TargetWord address, unsigned size) {
        if (!c_.memory) return std::nullopt;
        std::uint64_t value = 0;
        if (!c_.memory->read(address, &value, size)) return std::nullopt;
        return value;
    }
    bool dereference(unsigned size) {
        std::uint64_t address;
        if (!pop(address)) return false;
        std::optional<std::uint64_t> value = readMemory(static_cast<TargetWord>(address), size);
        return value && push(*value);
    }
    bool derefSized(std::uint8_t size) {
        if (size < 1 || size > 8) {
            reportInvalidIndex(c_.names, Msg::WordSize, size);
            return false;
        }
        return dereference(size);
    }

    // Moves the reader by `offset` bytes from the operation's end; a target outside the
    // expression ends the evaluation.
    static bool jump(common::ByteReader& r, std::int16_t offset) {
        if (!r.ok()) return true;
        const std::int64_t target = static_cast<std::int64_t>(r.offset()) + offset;
        if (target < 0 || static_cast<std::uint64_t>(target) > r.view().size()) return false;
        r.seek(static_cast<std::size_t>(target));
        return true;
    }

    // Pieces are laid out from the least significant bit up: the newest piece goes above those
    // already combined. A piece that is not a value (a register, DW_OP_stack_value) is an address
    // and its bytes are read there.
    bool piece(std::uint64_t bits) {
        std::uint64_t value;
        if (!pop(value)) return false;
        if (bits == 0 || bits > 64 || pieceBits_ + bits > 64) {
            reportInvalidIndex(c_.names, Msg::WordSize, static_cast<std::int64_t>(pieceBits_ + bits));
            return false;
        }
        if (!isValue_) {
            std::optional<std::uint64_t> bytes = readMemory(static_cast<TargetWord>(value), static_cast<unsigned>((bits + 7) / 8));
            if (!bytes) return false;
            value = *bytes;
        }
        isValue_ = false;
        if (bits < 64) value &= (std::uint64_t{1} << bits) - 1;
        composite_ |= pieceBits_ == 0 ? value : value << pieceBits_;
        pieceBits_ += bits;
        return true;
    }

    const ExpressionContext& c_;
    std::array<std::uint64_t, kExpressionStackSize> stack_{};
    unsigned size_ = 0;
    bool isValue_ = false;
    std::uint64_t composite_ = 0;
    std::uint64_t pieceBits_ = 0;
};

}  // namespace

std::optional<std::uint64_t> evaluateExpression(const ExpressionContext& context, common::ByteView expression,
                                                unsigned width, bool isLocation) {
    ExpressionMachine machine(context);
    return machine.run(expression, width, isLocation);
}

}  // namespace coresift::unwind

#include "analyzer/symbols/dwarf_expression.h"

#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"

namespace coresift {
namespace {

std::uint64_t maskOf(unsigned size) { return size >= 8 ? UINT64_MAX : (std::uint64_t{1} << (size * 8)) - 1; }

bool readMemory(const ExpressionContext& context, std::uint64_t address, unsigned size, std::uint64_t& out) {
    if (!context.memory || size == 0 || size > 8) return false;
    std::uint8_t bytes[8] = {};
    if (!context.memory->read(static_cast<TargetWord>(address), bytes, size)) return false;
    out = 0;
    for (unsigned i = size; i-- > 0;) out = (out << 8) | bytes[i];
    return true;
}

class Evaluator {
public:
    Evaluator(common::ByteView expression, const ExpressionContext& context)
        : code_(expression), context_(context), bits_(context.addressSize >= 8 ? 64 : context.addressSize * 8),
          mask_(maskOf(context.addressSize)) {}

    std::optional<Location> run(const std::vector<std::uint64_t>& initial);

private:
    std::int64_t asSigned(std::uint64_t v) const {
        if (bits_ == 64) return static_cast<std::int64_t>(v);
        std::uint64_t sign = std::uint64_t{1} << (bits_ - 1);
        return static_cast<std::int64_t>((v ^ sign) - sign);
    }
    bool push(std::uint64_t v) {
        if (stack_.size() >= kMaxExpressionStack) return false;
        stack_.push_back(v & mask_);
        return true;
    }
    bool pop(std::uint64_t& v) {
        if (stack_.empty()) return false;
        v = stack_.back();
        stack_.pop_back();
        return true;
    }
    bool binary(std::uint8_t op);
    bool addPiece(std::uint64_t size);

    common::ByteView code_;
    const ExpressionContext& context_;
    unsigned bits_;
    std::uint64_t mask_;
    std::vector<std::uint64_t> stack_;
    std::optional<Location> simple_;  // a register, value or implicit location awaiting its piece
    Location pieces_ = Location::of(Location::Kind::Pieces);
    bool hasPieces_ = false;
};

bool Evaluator::binary(std::uint8_t op) {
    std::uint64_t b = 0, a = 0;
    if (!pop(b) || !pop(a)) return false;
    const std::int64_t sa = asSigned(a), sb = asSigned(b);
    switch (op) {
    case dw::kOpAnd: return push(a & b);
    case dw::kOpOr: return push(a | b);
    case dw::kOpXor: return push(a ^ b);
    case dw::kOpPlus: return push(a + b);
    case dw::kOpMinus: return push(a - b);
    case dw::kOpMul: return push(a * b);
    case dw::kOpDiv:
        if (sb == 0) return false;
        // The most negative value divided by -1 does not fit: it wraps to itself.
        if (sb == -1) return push(0 - a);
        return push(static_cast<std::uint64_t>(sa / sb));
    case dw::kOpMod:
        if (b == 0) return false;
        return push(a % b);
    case dw::kOpShl: return push(b >= bits_ ? 0 : a << b);
    case dw::kOpShr: return push(b >= bits_ ? 0 : a >> b);
    case dw::kOpShra: {
        std::uint64_t shift = b >= bits_ ? bits_ - 1 : b;
        return push(static_cast<std::uint64_t>(sa >> shift));
    }
    case dw::kOpEq: return push(sa == sb);
    case dw::kOpGe: return push(sa >= sb);
    case dw::kOpGt: return push(sa > sb);
    case dw::kOpLe: return push(sa <= sb);
    case dw::kOpLt: return push(sa < sb);
    case dw::kOpNe: return push(sa != sb);
    default: return false;
    }
}

// Adds a piece of `size` bytes from the location just described (or an unavailable one).
bool Evaluator::addPiece(std::uint64_t size) {
    Location part;
    if (simple_) part = *simple_;
    else if (!stack_.empty()) part = Location::of(Location::Kind::Memory, stack_.back());
    else part.known = false;  // optimized out
    simple_.reset();
    stack_.clear();
    hasPieces_ = true;
    if (size == 0 || size > 8 || pieces_.pieceBytes + size > 8) {
        pieces_.known = false;
        pieces_.pieceBytes = 8;
        return true;
    }
    auto value = part.known ? locationValue(part, static_cast<unsigned>(size), context_) : std::nullopt;
    if (!value) pieces_.known = false;
    else pieces_.pieces |= *value << (pieces_.pieceBytes * 8);
    pieces_.pieceBytes += static_cast<unsigned>(size);
    return true;
}

std::optional<Location> Evaluator::run(const std::vector<std::uint64_t>& initial) {
    for (std::uint64_t v : initial)
        if (!push(v)) return std::nullopt;
    common::ByteReader in(code_);
    for (unsigned steps = 0; !in.atEnd(); ++steps) {
        if (steps == kMaxExpressionSteps) return std::nullopt;
        // After a register, a stack value or an implicit value only a piece may follow.
        std::uint8_t op = in.u8();
        if (simple_ && op != dw::kOpPiece && op != dw::kOpBitPiece) return std::nullopt;
        std::uint64_t a = 0, b = 0, c = 0;
        bool ok = true;
        if (op >= dw::kOpLit0 && op <= dw::kOpLit31) {
            ok = push(op - dw::kOpLit0);
        } else if (op >= dw::kOpReg0 && op <= dw::kOpReg31) {
            simple_ = Location::of(Location::Kind::Register, static_cast<std::uint64_t>(op - dw::kOpReg0));
        } else if (op >= dw::kOpBreg0 && op <= dw::kOpBreg31) {
            std::int64_t offset = in.sleb128();
            auto value = context_.reg ? context_.reg(op - dw::kOpBreg0) : std::nullopt;
            ok = value && push(*value + static_cast<std::uint64_t>(offset));
        } else {
            switch (op) {
            case dw::kOpAddr: ok = push(in.readSized(context_.addressSize) + context_.loadBias); break;
            case dw::kOpConst1u: ok = push(in.u8()); break;
            case dw::kOpConst1s: ok = push(static_cast<std::uint64_t>(in.s8())); break;
            case dw::kOpConst2u: ok = push(in.u16()); break;
            case dw::kOpConst2s: ok = push(static_cast<std::uint64_t>(in.s16())); break;
            case dw::kOpConst4u: ok = push(in.u32()); break;
            case dw::kOpConst4s: ok = push(static_cast<std::uint64_t>(in.s32())); break;
            case dw::kOpConst8u: ok = push(in.u64()); break;
            case dw::kOpConst8s: ok = push(static_cast<std::uint64_t>(in.s64())); break;
            case dw::kOpConstu: ok = push(in.uleb128()); break;
            case dw::kOpConsts: ok = push(static_cast<std::uint64_t>(in.sleb128())); break;
            case dw::kOpDup: ok = !stack_.empty() && push(stack_.back()); break;
            case dw::kOpDrop: ok = pop(a); break;
            case dw::kOpOver: ok = stack_.size() >= 2 && push(stack_[stack_.size() - 2]); break;
            case dw::kOpPick: {
                std::uint8_t index = in.u8();
                ok = index < stack_.size() && push(stack_[stack_.size() - 1 - index]);
                break;
            }
            case dw::kOpSwap: ok = pop(a) && pop(b) && push(a) && push(b); break;
            case dw::kOpRot: ok = pop(a) && pop(b) && pop(c) && push(a) && push(c) && push(b); break;
            case dw::kOpDeref: ok = pop(a) && readMemory(context_, a, context_.addressSize, b) && push(b); break;
            case dw::kOpDerefSize: {
                std::uint8_t size = in.u8();
                ok = size >= 1 && size <= context_.addressSize && pop(a) && readMemory(context_, a, size, b) && push(b);
                break;
            }
            case dw::kOpAbs: ok = pop(a) && push(asSigned(a) < 0 ? 0 - a : a); break;
            case dw::kOpNeg: ok = pop(a) && push(0 - a); break;
            case dw::kOpNot: ok = pop(a) && push(~a); break;
            case dw::kOpPlusUconst: ok = pop(a) && push(a + in.uleb128()); break;
            case dw::kOpAnd: case dw::kOpDiv: case dw::kOpMinus: case dw::kOpMod: case dw::kOpMul: case dw::kOpOr:
            case dw::kOpPlus: case dw::kOpShl: case dw::kOpShr: case dw::kOpShra: case dw::kOpXor: case dw::kOpEq:
            case dw::kOpGe: case dw::kOpGt: case dw::kOpLe: case dw::kOpLt: case dw::kOpNe:
                ok = binary(op);
                break;
            case dw::kOpSkip:
            case dw::kOpBra: {
                std::int16_t offset = in.s16();
                if (!in.ok()) return std::nullopt;
                bool jump = true;
                if (op == dw::kOpBra) ok = pop(a), jump = a != 0;
                if (ok && jump) {
                    std::int64_t target = static_cast<std::int64_t>(in.offset()) + offset;
                    if (target < 0 || static_cast<std::uint64_t>(target) > code_.size()) return std::nullopt;
                    in.seek(static_cast<std::size_t>(target));
                }
                break;
            }
            case dw::kOpRegx:
                simple_ = Location::of(Location::Kind::Register, in.uleb128());
                break;
            case dw::kOpBregx: {
                std::uint64_t reg = in.uleb128();
                std::int64_t offset = in.sleb128();
                auto value = context_.reg && reg < 1024 ? context_.reg(static_cast<unsigned>(reg)) : std::nullopt;
                ok = value && push(*value + static_cast<std::uint64_t>(offset));
                break;
            }
            case dw::kOpFbreg: {
                std::int64_t offset = in.sleb128();
                ok = context_.frameBase && push(*context_.frameBase + static_cast<std::uint64_t>(offset));
                break;
            }
            case dw::kOpCallFrameCfa: ok = context_.cfa && push(*context_.cfa); break;
            case dw::kOpNop: break;
            case dw::kOpStackValue:
                ok = pop(a);
                simple_ = Location::of(Location::Kind::Value, a);
                break;
            case dw::kOpImplicitValue: {
                std::uint64_t length = in.uleb128();
                Location implicit = Location::of(Location::Kind::Implicit);
                implicit.bytes = in.bytes(length);
                simple_ = implicit;
                break;
            }
            case dw::kOpPiece: ok = addPiece(in.uleb128()); break;
            case dw::kOpBitPiece: {
                std::uint64_t bitsize = in.uleb128(), offset = in.uleb128();
                ok = bitsize % 8 == 0 && offset == 0 && addPiece(bitsize / 8);
                break;
            }
            case dw::kOpAddrx: case dw::kOpConstx: case dw::kOpGnuAddrIndex: case dw::kOpGnuConstIndex: {
                std::uint64_t index = in.uleb128();
                auto value = context_.dwarf && context_.unit ? context_.dwarf->indexedAddress(*context_.unit, index)
                                                             : std::nullopt;
                bool address = op == dw::kOpAddrx || op == dw::kOpGnuAddrIndex;
                ok = value && push(*value + (address ? context_.loadBias : 0));
                break;
            }
            case dw::kOpEntryValue:
            case dw::kOpGnuEntryValue: {
                // Only the value a register had on entry is known, and only when the frame says so.
                common::ByteView inner = in.bytes(in.uleb128());
                if (!in.ok() || inner.empty() || !context_.entryValue) return std::nullopt;
                common::ByteReader sub(inner);
                std::uint8_t innerOp = sub.u8();
                std::uint64_t reg = 0;
                if (innerOp >= dw::kOpReg0 && innerOp <= dw::kOpReg31) reg = innerOp - dw::kOpReg0;
                else if (innerOp == dw::kOpRegx) reg = sub.uleb128();
                else return std::nullopt;
                if (!sub.ok() || !sub.atEnd() || reg >= 1024) return std::nullopt;
                auto value = context_.entryValue(static_cast<unsigned>(reg));
                ok = value && push(*value);
                break;
            }
            default:
                return std::nullopt;  // calls, TLS, typed and vendor operations
            }
        }
        if (!ok || !in.ok()) return std::nullopt;
    }
    if (hasPieces_) {
        if (simple_ || !stack_.empty()) return std::nullopt;  // a location after the last piece
        return pieces_;
    }
    if (simple_) return simple_;
    if (stack_.empty()) return std::nullopt;
    return Location::of(Location::Kind::Memory, stack_.back());
}

}  // namespace

std::optional<Location> evaluateExpression(common::ByteView expression, const ExpressionContext& context,
                                           const std::vector<std::uint64_t>& initialStack) {
    if (context.addressSize == 0 || context.addressSize > 8) return std::nullopt;
    return Evaluator(expression, context).run(initialStack);
}

std::optional<std::uint64_t> locationValue(const Location& location, unsigned byteSize, const ExpressionContext& context) {
    if (byteSize == 0 || byteSize > 8) return std::nullopt;
    const std::uint64_t mask = maskOf(byteSize);
    switch (location.kind) {
    case Location::Kind::Memory: {
        std::uint64_t value = 0;
        if (!readMemory(context, location.value, byteSize, value)) return std::nullopt;
        return value;
    }
    case Location::Kind::Register: {
        if (!context.reg || location.value >= 1024) return std::nullopt;
        auto value = context.reg(static_cast<unsigned>(location.value));
        if (!value) return std::nullopt;
        return *value & mask;
    }
    case Location::Kind::Value:
        return location.value & mask;
    case Location::Kind::Implicit: {
        std::uint64_t value = 0;
        std::size_t n = location.bytes.size() < byteSize ? location.bytes.size() : byteSize;
        for (std::size_t i = n; i-- > 0;) value = (value << 8) | location.bytes.data()[i];
        return value;
    }
    case Location::Kind::Pieces:
        if (!location.known || location.pieceBytes < byteSize) return std::nullopt;
        return location.pieces & mask;
    }
    return std::nullopt;
}

}  // namespace coresift

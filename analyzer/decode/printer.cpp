// The instruction printer visitor. One text per instruction, written into the caller's sink; the
// spelling is this system's own (see printer.h), the same for every front-end.
#include "analyzer/decode/printer.h"

#include <optional>
#include <string_view>

#include "analyzer/decode/linker_stub.h"

namespace coresift::decode {
namespace {

constexpr std::string_view kConditions[16] = {"EQ", "NE", "CS", "CC", "MI", "PL", "VS", "VC",
                                              "HI", "LS", "GE", "LT", "GT", "LE", "",   ""};
constexpr std::string_view kSystemNames[25] = {
    "SVC", "HVC",  "SMC", "BRK", "HLT", "DCPS1", "DCPS2", "DCPS3", "NOP", "YIELD", "WFE", "WFI", "SEV",
    "SEVL", "CLREX", "DSB", "DMB", "ISB", "MSR SPSel", "MSR DAIFSet", "MSR DAIFClr", "SETEND", "IT", "DRPS", "ERET"};
constexpr std::string_view kBarrierNames[16] = {"",    "OSHLD", "OSHST", "OSH", "", "NSHLD", "NSHST", "NSH",
                                                "",    "ISHLD", "ISHST", "ISH", "", "LD",    "ST",    "SY"};
constexpr std::string_view kStoreSuffix[25] = {"",    "X",   "LX",  "L",   "",    "N",   "U",    "T",   "MDA",
                                               "MDB", "MIA", "MIB", "TB",  "LU",  "G",   "CAS",  "ADD", "CLR",
                                               "EOR", "ORR", "SMAX", "SMIN", "UMAX", "UMIN", "SWP"};
constexpr std::string_view kLoadSuffix[25] = {"",    "X",   "AX",  "A",   "PRFM", "N",   "U",    "T",   "MDA",
                                              "MDB", "MIA", "MIB", "TB",  "APU",  "G",   "CAS",  "ADD", "CLR",
                                              "EOR", "ORR", "SMAX", "SMIN", "UMAX", "UMIN", "SWP"};
constexpr std::string_view kExtendNames[2][4] = {{"UXTB", "UXTH", "UXTW", "UXTX"}, {"SXTB", "SXTH", "SXTW", "SXTX"}};
constexpr char kElementLetters[] = "BHWXQ";
constexpr char kVectorLetters[] = "BHSDQ";

// Register size letters by the size field: "??R??" in CoreSift, "??WX?" in CoreSift64.
constexpr char sizeLetter(unsigned size) {
    if constexpr (kIs64) return size == kWord ? 'W' : size == kDouble ? 'X' : 0;
    return size == kWord ? 'R' : 0;
}
constexpr unsigned kPointerSize = kIs64 ? kDouble : kWord;
constexpr unsigned bitsOfSize(unsigned size) { return size == kDouble ? 64 : 32; }

struct Printer {
    PrintContext& ctx;
    TextSink& out;

    void reg(unsigned r, unsigned size) {
        if (isVectorRegister(r)) {
            out.put(kVectorLetters[size > kQuad ? kQuad : size]);
            out.decimal(r - kRegVector0);
            return;
        }
        if (r == kRegPc) return out.put("PC");
        if (r == kRegSp) {
            if (kIs64 && size == kWord) out.put('W');
            return out.put("SP");
        }
        const char letter = sizeLetter(size);
        if (!letter) return out.put("??");
        out.put(letter);
        if (r == kRegNone) return out.put("ZR");
        out.decimal(r);
    }
    void sep() { out.put(", "); }
    void immediate(std::uint64_t v) {
        out.put("#0x");
        out.hex(v);
    }
    void signedImmediate(std::int64_t v) {
        if (v < 0) {
            out.put("#-0x");
            out.hex(0 - static_cast<std::uint64_t>(v));
        } else {
            immediate(static_cast<std::uint64_t>(v));
        }
    }
    void condition(std::uint32_t op) { out.put(kConditions[conditionOf(op)]); }
    TargetWord pc() const { return pcValue(ctx.set, ctx.address); }

    // A field-described shift or extend after a register operand: ", LSL #0x2", ", UXTW", ...
    void fieldSuffix(std::uint64_t field, bool isSigned, unsigned bits) {
        const FieldMeaning m = interpretField(field, isSigned, bits);
        switch (m.kind) {
        case FieldKind::Lsl: case FieldKind::Lsr: case FieldKind::Asr: case FieldKind::Ror: {
            if (m.amount == 0) return;
            static constexpr std::string_view kNames[4] = {"LSL", "LSR", "ASR", "ROR"};
            sep();
            out.put(kNames[static_cast<unsigned>(m.kind)]);
            out.put(' ');
            return immediate(m.amount);
        }
        case FieldKind::Extend:
            sep();
            out.put(extendName(m.width, isSigned));
            if (m.amount) {
                out.put(' ');
                immediate(m.amount);
            }
            return;
        default:  // a field that is no operand shift: shown as the field itself
            sep();
            out.put(m.kind == FieldKind::Extract ? "FIELD #" : "INSERT #");
            out.decimal(m.amount);
            out.put(", #");
            return out.decimal(m.width);
        }
    }
    static std::string_view extendName(unsigned width, bool isSigned) {
        return kExtendNames[isSigned ? 1 : 0][width == 8 ? 0 : width == 16 ? 1 : width == 32 ? 2 : 3];
    }
    static constexpr std::string_view shiftName(Shift s, bool isSigned) {
        switch (s) {
        case Shift::Lsl: return "LSL";
        case Shift::Lsr: return isSigned ? "ASR" : "LSR";
        case Shift::Ror: return "ROR";
        case Shift::Rrx: return "RRX";
        default: return "";
        }
    }

    // ---- Branch ----
    unsigned branch(std::uint32_t op, std::int64_t offset, unsigned r, unsigned bitNumber) {
        const TargetWord target = pc() + static_cast<TargetWord>(offset);
        if (has(op, op::kCompareZero) || has(op, op::kTestBit)) {
            out.put(has(op, op::kCompareZero) ? "CB" : "TB");
            if (conditionOf(op)) out.put('N');
            out.put("Z ");
            reg(r, sizeOf(op));
            if (has(op, op::kTestBit)) {
                out.put(", #");
                out.decimal(bitNumber);
            }
            sep();
            out.hex(target);
            return 0;
        }
        const bool link = has(op, op::kLink), exchange = has(op, op::kExchange);
        const bool registerTarget = has(op, op::kRegisterTarget), isReturn = has(op, op::kReturn);
        out.put(link ? "BL" : isReturn ? "RET" : "B");
        if (exchange) out.put('X');
        else if (registerTarget && !isReturn) out.put('R');
        condition(op);
        if (registerTarget) {
            if (!(isReturn && r == kRegLr)) {
                out.put(' ');
                reg(r, kPointerSize);
            }
            return 0;
        }
        if (!link) {
            out.put(' ');
            out.hex(target);
            return 0;
        }
        TargetWord callee = target;
        if (exchange && ctx.set == InstructionSet::Thumb) callee = (pc() & ~TargetWord{3}) + static_cast<TargetWord>(offset);
        out.put(' ');
        symbolized(callTarget(callee, exchange));
        return 0;
    }

    // The function a call reaches: through a linker stub in CoreSift.
    TargetWord callTarget(TargetWord callee, bool exchange) {
        if constexpr (!kIs64) {
            if (ctx.memory) {
                const bool thumbTarget = (ctx.set == InstructionSet::Thumb) != exchange;
                if (auto real = linkerStubTarget(*ctx.memory, callee | (thumbTarget ? 1 : 0))) return *real & ~TargetWord{1};
            }
        }
        return callee;
    }

    void symbolized(TargetWord address) {
        std::string_view name;
        TargetWord offset = 0;
        if (ctx.symbols && ctx.symbols->functionAt(address, name, offset)) {
            out.put('<');
            out.put(name);
            out.put("() + ");
            out.decimal(static_cast<std::int64_t>(offset));
            out.put('>');
            return;
        }
        out.hex(address);
    }

    // ---- Data processing ----
    struct Name {
        std::string_view text;
        enum Form { Plain, Move, ShiftAlias, FieldAlias, Compare } form;
    };

    Name addName(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) const {
        const bool sub = isSubtract(op), carry = has(op, op::kCarry), flags = has(op, op::kSetFlags);
        if (sub) {
            if (carry) return {rn == kRegNone ? "NGC" : "SBC", Name::Plain};
            if (rd == kRegNone && flags) return {"CMP", Name::Compare};
            return {rn == kRegNone ? "NEG" : "SUB", Name::Plain};
        }
        if (carry) return {"ADC", Name::Plain};
        if (rd == kRegNone && flags) return {"CMN", Name::Compare};
        if (auto alias = moveAlias(op, rn, rm)) return *alias;
        if (rm == kRegNone && imm == 0 && rn != kRegPc && !has(op, op::kTag)) return {"MOV", Name::Move};
        return {"ADD", Name::Plain};
    }
    // Aliases of an operation without a first operand: MOV, the shift names, extends, bitfield moves.
    static std::optional<Name> moveAlias(std::uint32_t op, unsigned rn, unsigned rm) {
        if (rn != kRegNone) return std::nullopt;
        const Shift s = shiftOf(op);
        if (rm == kRegNone || s == Shift::None) return Name{"MOV", Name::Move};
        if (s == Shift::Field) return Name{"", Name::FieldAlias};
        return Name{shiftName(s, has(op, op::kSigned)), Name::ShiftAlias};
    }

    Name dpName(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) const {
        const bool inverted = isInvertedOnly(op), flags = has(op, op::kSetFlags);
        switch (classOf(op)) {
        case DpClass::Add: return addName(op, rd, rn, rm, imm);
        case DpClass::Rsb: return {has(op, op::kCarry) ? "RSC" : "RSB", Name::Plain};
        case DpClass::And:
            if (inverted) return {"BIC", Name::Plain};
            if (rd == kRegNone && flags) return {"TST", Name::Compare};
            if (rn == kRegNone && rm == kRegNone) return {"MOV", Name::Move};
            return {"AND", Name::Plain};
        case DpClass::Orr:
            if (inverted) return {rn == kRegNone ? "MVN" : "ORN", rn == kRegNone ? Name::Move : Name::Plain};
            if (auto alias = moveAlias(op, rn, rm)) return *alias;
            return {"ORR", Name::Plain};
        case DpClass::Eor:
            if (inverted) return {"EON", Name::Plain};
            if (rd == kRegNone && flags) return {"TEQ", Name::Compare};
            if (auto alias = moveAlias(op, rn, rm)) return *alias;
            return {"EOR", Name::Plain};
        default: return {"", Name::Plain};
        }
    }

    unsigned dataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
        const DpClass cls = classOf(op);
        const unsigned dsize = sizeOf(op), ssize = sourceSizeOf(op);
        switch (cls) {
        case DpClass::Adrp:
            out.put("ADRP ");
            reg(rd, dsize);
            sep();
            out.hex((pc() & ~TargetWord{0xFFF}) + static_cast<TargetWord>(imm));
            return 0;
        case DpClass::Movk:
            out.put("MOVK");
            condition(op);
            out.put(' ');
            reg(rd, dsize);
            sep();
            immediate(imm & 0xFFFF);
            if ((imm >> 20) & 3) {
                out.put(", LSL #");
                out.decimal(16 * ((imm >> 20) & 3));
            }
            return 0;
        case DpClass::Lsl: case DpClass::Lsr: case DpClass::Asr: case DpClass::Ror:
        case DpClass::Div: case DpClass::Mulh: {
            static constexpr std::string_view kNames[4] = {"LSL", "LSR", "ASR", "ROR"};
            if (cls == DpClass::Div || cls == DpClass::Mulh) {
                out.put(has(op, op::kSigned) ? 'S' : 'U');
                out.put(cls == DpClass::Div ? "DIV" : "MULH");
            } else {
                out.put(kNames[static_cast<unsigned>(cls) - static_cast<unsigned>(DpClass::Lsl)]);
            }
            return threeRegisters(op, rd, rn, rm);
        }
        case DpClass::Extr:
            out.put(rn == rm ? "ROR" : "EXTR");
            condition(op);
            out.put(' ');
            reg(rd, dsize);
            sep();
            reg(rn, ssize);
            if (rn != rm) {
                sep();
                reg(rm, ssize);
            }
            sep();
            immediate(imm);
            return 0;
        case DpClass::Bfxil: return bitfield(op, rd, rn, imm);
        case DpClass::Ccmn: return conditionalCompare(op, rn, rm, imm);
        case DpClass::Csel: return conditionalSelect(op, rd, rn, rm);
        case DpClass::Rbit: case DpClass::Rev: case DpClass::Rev16: case DpClass::Rev32: case DpClass::Clz:
        case DpClass::Cls: {
            static constexpr std::string_view kNames[6] = {"RBIT", "REV", "REV16", "REV32", "CLZ", "CLS"};
            out.put(kNames[static_cast<unsigned>(cls) - static_cast<unsigned>(DpClass::Rbit)]);
            condition(op);
            out.put(' ');
            reg(rd, dsize);
            sep();
            reg(rn, ssize);
            return 0;
        }
        case DpClass::Madd: return multiply(op, rd, rn, rm, imm);
        default: break;
        }
        const Name name = dpName(op, rd, rn, rm, imm);
        if (name.form == Name::FieldAlias) return fieldMove(op, rd, rm, imm);
        out.put(name.text.empty() ? "???" : name.text);
        if (has(op, op::kSetFlags) && name.form != Name::Compare) out.put('S');
        if (has(op, op::kTag)) out.put('G');
        condition(op);
        bool first = true;
        auto operand = [&](unsigned r, unsigned size) {
            out.put(first ? " " : ", ");
            first = false;
            reg(r, size);
        };
        // No destination is a compare; in CoreSift64 a flag-less form without one writes the zero register.
        if (rd != kRegNone || (kIs64 && !has(op, op::kSetFlags))) operand(rd, dsize);
        if (name.form == Name::ShiftAlias) {
            operand(rm, ssize);
            if (shiftOf(op) == Shift::Rrx) return 0;
            sep();
            if (has(op, op::kShiftByRegister)) reg(static_cast<unsigned>(imm), ssize);
            else immediate(imm);
            return 0;
        }
        if (rn != kRegNone) operand(rn, ssize);
        if (name.form == Name::Move && rm == kRegNone && rn != kRegNone) return 0;  // MOV Xd, SP
        secondOperand(op, rm, imm, first, ssize);
        return 0;
    }

    void secondOperand(std::uint32_t op, unsigned rm, std::uint64_t imm, bool first, unsigned ssize) {
        out.put(first ? " " : ", ");
        if (rm == kRegNone) {
            if (has(op, op::kTag)) {
                immediate(imm & 0xFFFFFFFF);
                sep();
                return immediate(imm >> 32);
            }
            const DpClass cls = classOf(op);
            const bool signedForm = cls == DpClass::Add && (first || shiftOf(op) == Shift::None);
            const unsigned bits = bitsOfSize(sizeOf(op));
            std::uint64_t value = bits == 64 ? imm : imm & 0xFFFFFFFFu;
            if (signedForm && bits == 32 && (value & 0x80000000u)) value |= ~std::uint64_t{0xFFFFFFFF};
            return signedForm ? signedImmediate(static_cast<std::int64_t>(value)) : immediate(value);
        }
        registerOperand(op, rm, imm, ssize, bitsOfSize(sizeOf(op)));
    }

    // A register operand with its shift or extend (data processing and index registers).
    void registerOperand(std::uint32_t op, unsigned rm, std::uint64_t shiftArgument, unsigned size, unsigned bits) {
        const Shift s = shiftOf(op);
        if (s == Shift::Field) {
            const FieldMeaning m = interpretField(shiftArgument, has(op, op::kSigned), bits);
            if (kIs64 && m.kind == FieldKind::Extend && m.width <= 32) size = kWord;
        }
        reg(rm, size);
        switch (s) {
        case Shift::None: return;
        case Shift::Field: return fieldSuffix(shiftArgument, has(op, op::kSigned), bits);
        case Shift::Rrx: out.put(", RRX"); return;
        default:
            sep();
            out.put(shiftName(s, has(op, op::kSigned)));
            out.put(' ');
            if (has(op, op::kShiftByRegister)) reg(static_cast<unsigned>(shiftArgument), size);
            else immediate(shiftArgument);
        }
    }

    // MOV of a described field: the shift, extend or bitfield-move alias.
    unsigned fieldMove(std::uint32_t op, unsigned rd, unsigned rm, std::uint64_t field) {
        const bool isSigned = has(op, op::kSigned);
        const unsigned bits = bitsOfSize(sizeOf(op));
        const FieldMeaning m = interpretField(field, isSigned, bits);
        unsigned sourceSize = sourceSizeOf(op);
        switch (m.kind) {
        case FieldKind::Lsl: out.put("LSL"); break;
        case FieldKind::Lsr: out.put("LSR"); break;
        case FieldKind::Asr: out.put("ASR"); break;
        case FieldKind::Ror: out.put("ROR"); break;
        case FieldKind::Extend:
            if (m.amount == 0) {
                out.put(extendName(m.width, isSigned));
                if (kIs64) sourceSize = kWord;
                break;
            }
            [[fallthrough]];
        case FieldKind::Insert: out.put(isSigned ? "SBFIZ" : "UBFIZ"); break;
        case FieldKind::Extract: out.put(isSigned ? "SBFX" : "UBFX"); break;
        }
        if (has(op, op::kSetFlags)) out.put('S');
        condition(op);
        out.put(' ');
        reg(rd, sizeOf(op));
        sep();
        reg(rm, sourceSize);
        if (m.kind == FieldKind::Extend && m.amount == 0) return 0;
        sep();
        immediate(m.amount);
        if (m.kind == FieldKind::Extend || m.kind == FieldKind::Insert || m.kind == FieldKind::Extract) {
            sep();
            immediate(m.width);
        }
        return 0;
    }

    unsigned threeRegisters(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm) {
        condition(op);
        out.put(' ');
        reg(rd, sizeOf(op));
        sep();
        reg(rn, sourceSizeOf(op));
        sep();
        reg(rm, sourceSizeOf(op));
        return 0;
    }

    unsigned bitfield(std::uint32_t op, unsigned rd, unsigned rn, std::uint64_t field) {
        const unsigned bits = bitsOfSize(sizeOf(op)), immr = fieldRotation(field), imms = fieldTop(field);
        const bool extract = immr <= imms, clear = rn == kRegNone;
        out.put(clear ? "BFC" : extract ? "BFXIL" : "BFI");
        condition(op);
        out.put(' ');
        reg(rd, sizeOf(op));
        if (!clear) {
            sep();
            reg(rn, sourceSizeOf(op));
        }
        // BFC: the field cleared is where the zeros land (bits 0.. for the extracting form).
        out.put(", #");
        out.decimal(extract ? (clear ? 0 : immr) : (bits - immr) % bits);
        out.put(", #");
        out.decimal(extract ? imms - immr + 1 : imms + 1);
        return 0;
    }

    unsigned conditionalCompare(std::uint32_t op, unsigned rn, unsigned rm, std::uint64_t imm) {
        out.put(isSubtract(op) ? "CCMP " : "CCMN ");
        reg(rn, sourceSizeOf(op));
        sep();
        if (rm == kRegNone) immediate((imm >> 8) & 31);
        else reg(rm, sourceSizeOf(op));
        out.put(", #");
        out.decimal(static_cast<std::int64_t>(imm & 15));
        sep();
        out.put(kConditions[conditionOf(op)]);
        return 0;
    }

    unsigned conditionalSelect(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm) {
        const bool inv = isInvertedOnly(op), neg = isSubtract(op), inc = has(op, op::kCarry);
        const unsigned cond = conditionOf(op);
        const bool alias = cond < kCondAlways && rn == rm && (inv || neg || inc);
        const bool noSources = rn == kRegNone;
        std::string_view name = inv ? "CSINV" : neg ? "CSNEG" : inc ? "CSINC" : "CSEL";
        if (alias) name = inc ? (noSources ? "CSET" : "CINC") : inv ? (noSources ? "CSETM" : "CINV") : "CNEG";
        out.put(name);
        out.put(' ');
        reg(rd, sizeOf(op));
        if (!alias || !noSources || neg) {
            sep();
            reg(rn, sourceSizeOf(op));
        }
        if (!alias) {
            sep();
            reg(rm, sourceSizeOf(op));
        }
        sep();
        out.put(kConditions[alias ? cond ^ 1 : cond]);
        return 0;
    }

    unsigned multiply(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm) {
        const bool isLong = sizeOf(op) > sourceSizeOf(op), isSigned = has(op, op::kSigned);
        const unsigned accumulator = static_cast<unsigned>(imm & 0xFF);
        const unsigned high = static_cast<unsigned>((imm >> 8) & 0xFF);
        const bool accumulate = accumulator != kRegNone;
        if (isSigned || isLong) out.put(isSigned ? 'S' : 'U');
        if (accumulate) out.put(isSubtract(op) ? "MSUB" : "MADD");
        else out.put(isSubtract(op) ? "MNEG" : "MUL");
        if (isLong) out.put('L');
        if (has(op, op::kSetFlags)) out.put('S');
        condition(op);
        out.put(' ');
        const bool pairDestination = !kIs64 && isLong;  // CoreSift: RdLo, RdHi
        reg(rd, pairDestination ? kWord : sizeOf(op));
        if (pairDestination) {
            sep();
            reg(high, kWord);
        }
        sep();
        reg(rn, sourceSizeOf(op));
        sep();
        reg(rm, sourceSizeOf(op));
        if (accumulate && !(pairDestination && accumulator == rd)) {
            sep();
            reg(accumulator, sizeOf(op) == kDouble && !isLong ? kDouble : (kIs64 ? sizeOf(op) : kWord));
        }
        return 0;
    }

    // ---- Load/store ----
    unsigned loadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset) {
        const Variant variant = variantOf(op);
        const unsigned v = static_cast<unsigned>(variant);
        const bool load = has(op, op::kLoad), multiple = has(op, op::kMultiple);
        const bool vector = isVectorRegister(list[0]) && variant != Variant::Prefetch;
        unsigned count = 0;
        while (list[count] != kRegListEnd && count < 40) ++count;

        if (vector) out.put('V');
        if (variant == Variant::Prefetch && load) {
            out.put("PRFM");
        } else if (variant == Variant::TableBranch) {
            out.put("TB");
        } else if (variant == Variant::CompareSwap || variant == Variant::Swap) {
            out.put(kLoadSuffix[v]);
        } else {
            out.put(load ? "LD" : "ST");
            out.put(v < 25 ? (load ? kLoadSuffix[v] : kStoreSuffix[v]) : "?");
            const bool noRegisterLetter = multiple || (variant >= Variant::Tag && variant <= Variant::AtomicUmin);
            if (count == 2 && !multiple) out.put('P');
            else if (!noRegisterLetter) out.put('R');
        }
        if (has(op, op::kSignExtend)) out.put('S');
        const unsigned element = elementSizeOf(op);
        if (!vector && element != sizeOf(op) && variant != Variant::Prefetch && variant != Variant::Tag && element <= kQuad)
            out.put(kElementLetters[element]);
        condition(op);

        if (multiple) {
            out.put(' ');
            reg(base, kPointerSize);
            if (has(op, op::kWriteBack)) out.put('!');
            out.put(", {");
            for (unsigned i = 0; i < count; ++i) {
                if (i) sep();
                reg(list[i], vector ? element : sizeOf(op));
            }
            out.put('}');
            if (has(op, op::kUserBank)) out.put('^');
            return 0;
        }
        bool first = true;
        auto operand = [&](unsigned r) {
            out.put(first ? " " : ", ");
            first = false;
            reg(r, vector ? element : sizeOf(op));
        };
        if (variant == Variant::Prefetch) {
            out.put(' ');
            first = false;
            prefetchOperation(list[0]);
        } else if (variant == Variant::TableBranch) {
            // no transfer register: the loaded value moves the PC
        } else if (variant == Variant::CompareSwap) {
            operand(list[0]);
            operand(index);
            index = kRegNone;
        } else {
            const bool statusFirst = index != kRegNone && (variant == Variant::Swap || variant >= Variant::AtomicAdd ||
                                                           ((variant == Variant::Exclusive ||
                                                             variant == Variant::OrderedExclusive) && !load));
            if (statusFirst) {
                // An exclusive store's status is a 32-bit register; an atomic's operand has the data's size.
                const bool status = variant == Variant::Exclusive || variant == Variant::OrderedExclusive;
                out.put(first ? " " : ", ");
                first = false;
                reg(index, status ? kWord : sizeOf(op));
                index = kRegNone;
            }
            const bool storeAlias = variant >= Variant::AtomicAdd && variant <= Variant::AtomicUmin && !load;
            if (!storeAlias)
                for (unsigned i = 0; i < count; ++i) operand(list[i]);
        }
        out.put(first ? " [" : ", [");
        reg(base, kPointerSize);
        const bool post = has(op, op::kPostIndex), writeBack = has(op, op::kWriteBack);
        if (post) out.put(']');
        if (index != kRegNone) {
            out.put(isSubtract(op) ? ", -" : ", ");
            registerOperand(op, index, static_cast<std::uint64_t>(offset), kIs64 ? kDouble : kWord, kIs64 ? 64 : 32);
        } else if (offset != 0 || post || writeBack) {
            sep();
            signedImmediate(offset);
        }
        if (!post) out.put(writeBack ? "]!" : "]");
        return 0;
    }

    void prefetchOperation(unsigned operation) {
        static constexpr std::string_view kTypes[3] = {"PLD", "PLI", "PST"};
        const unsigned type = operation >> 3, target = (operation >> 1) & 3;
        if (type > 2 || target > 2) return immediate(operation);
        out.put(kTypes[type]);
        out.put('L');
        out.decimal(target + 1);
        out.put((operation & 1) ? "STRM" : "KEEP");
    }

    // ---- System ----
    unsigned system(std::uint32_t op, std::uint64_t imm) {
        const unsigned index = static_cast<unsigned>(systemOpOf(op));
        out.put(index < 25 ? kSystemNames[index] : "???");
        condition(op);
        const SystemOp s = systemOpOf(op);
        if (s == SystemOp::Dsb || s == SystemOp::Dmb || s == SystemOp::Isb) {
            if (imm <= 15 && !kBarrierNames[imm].empty()) {
                out.put(' ');
                out.put(kBarrierNames[imm]);
            } else if (imm) {
                out.put(' ');
                immediate(imm);
            }
            return 0;
        }
        if (imm) {
            out.put(' ');
            immediate(imm);
        }
        return 0;
    }
};

Printer printerOf(void* context) {
    auto* ctx = static_cast<PrintContext*>(context);
    return Printer{*ctx, *ctx->out};
}

unsigned printUndefined(std::uint32_t instruction, unsigned unimplemented, void* context) {
    TextSink& out = *static_cast<PrintContext*>(context)->out;
    out.put(unimplemented ? "UNIMPL " : "UNDEF ");
    char digits[8];
    for (int i = 7; i >= 0; --i, instruction >>= 4) digits[i] = "0123456789ABCDEF"[instruction & 15];
    out.put(std::string_view(digits, 8));
    return 0;
}
unsigned printBranch(std::uint32_t op, std::int64_t offset, unsigned r, unsigned bitNumber, void* context) {
    return printerOf(context).branch(op, offset, r, bitNumber);
}
unsigned printDataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm, void* context) {
    return printerOf(context).dataProcessing(op, rd, rn, rm, imm);
}
unsigned printLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset,
                        void* context) {
    return printerOf(context).loadStore(op, list, base, index, offset);
}
unsigned printSystem(std::uint32_t op, std::uint64_t imm, void* context) { return printerOf(context).system(op, imm); }

}  // namespace

const Visitor kPrinterVisitor = {printUndefined, printBranch, printDataProcessing, printLoadStore, printSystem};

unsigned printInstruction(InstructionSet set, std::uint32_t word, TargetWord address, TextSink& out,
                          const TargetMemory* memory, const SymbolNamer* symbols) {
    out.clear();
    PrintContext ctx{&out, set, address, memory, symbols};
    unsigned length = 4;
    decodeInstruction(set, word, length, kPrinterVisitor, &ctx);
    return length;
}

}  // namespace coresift::decode

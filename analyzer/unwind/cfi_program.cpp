#include "analyzer/unwind/cfi_program.h"

#include <limits>
#include <vector>

#include "analyzer/unwind/cfi_messages.h"
#include "analyzer/unwind/pointer_encoding.h"

namespace coresift::unwind {
namespace {

namespace cfa {
inline constexpr std::uint8_t kAdvanceLoc = 0x40, kOffset = 0x80, kRestore = 0xC0;
inline constexpr std::uint8_t kNop = 0x00, kSetLoc = 0x01, kAdvanceLoc1 = 0x02, kAdvanceLoc2 = 0x03,
                              kAdvanceLoc4 = 0x04, kOffsetExtended = 0x05, kRestoreExtended = 0x06,
                              kUndefined = 0x07, kSameValue = 0x08, kRegister = 0x09, kRememberState = 0x0A,
                              kRestoreState = 0x0B, kDefCfa = 0x0C, kDefCfaRegister = 0x0D, kDefCfaOffset = 0x0E,
                              kDefCfaExpression = 0x0F, kExpression = 0x10, kOffsetExtendedSf = 0x11,
                              kDefCfaSf = 0x12, kDefCfaOffsetSf = 0x13, kValOffset = 0x14, kValOffsetSf = 0x15,
                              kValExpression = 0x16, kAArch64NegateRaState = 0x2D, kGnuArgsSize = 0x2E,
                              kGnuNegativeOffsetExtended = 0x2F;
}  // namespace cfa

constexpr std::uint64_t kNoLocation = std::numeric_limits<std::uint64_t>::max();

// Factored offsets come from the table: they wrap instead of overflowing.
std::int64_t factor(std::int64_t value, std::int64_t alignment) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(value) * static_cast<std::uint64_t>(alignment));
}

std::uint64_t advance(std::uint64_t location, std::uint64_t delta, std::uint64_t factor) {
    if (factor != 0 && delta > kNoLocation / factor) return kNoLocation;
    const std::uint64_t step = delta * factor;
    return location > kNoLocation - step ? kNoLocation : location + step;
}

// One run of the interpreter over an instruction stream.
class CfiMachine {
public:
    CfiMachine(const CfiSection& section, const Cie& cie, const CfiRow& initial, CfiRow& row)
        : section_(section), cie_(cie), initial_(initial), row_(row) {}

    bool run(common::ByteView instructions, TargetWord address, std::uint64_t location, std::optional<TargetWord> pc) {
        common::ByteReader reader(instructions);
        location_ = location;
        // Every instruction consumes at least its opcode byte, so the stream bounds the loop.
        while (!reader.atEnd()) {
            if (pc && location_ > *pc) return true;
            const std::size_t at = reader.offset();
            const std::uint8_t opcode = reader.u8();
            if (!execute(reader, opcode, address)) return false;
            if (!reader.ok()) {
                // The operands run past the end of the instructions.
                reportUnrecognizedOpcode(section_.names, opcode);
                return false;
            }
            if (reader.offset() == at) return false;
        }
        return true;
    }

private:
    bool execute(common::ByteReader& r, std::uint8_t opcode, TargetWord address) {
        switch (opcode & 0xC0) {
            case cfa::kAdvanceLoc: location_ = advance(location_, opcode & 0x3F, cie_.codeAlignment); return true;
            case cfa::kOffset: setOffset(opcode & 0x3F, static_cast<std::int64_t>(r.uleb128())); return true;
            case cfa::kRestore: restore(opcode & 0x3F); return true;
            default: break;
        }
        switch (opcode) {
            case cfa::kNop: return true;
            case cfa::kSetLoc: return setLocation(r, address);
            case cfa::kAdvanceLoc1: location_ = advance(location_, r.u8(), cie_.codeAlignment); return true;
            case cfa::kAdvanceLoc2: location_ = advance(location_, r.u16(), cie_.codeAlignment); return true;
            case cfa::kAdvanceLoc4: location_ = advance(location_, r.u32(), cie_.codeAlignment); return true;
            case cfa::kOffsetExtended: {
                const std::uint64_t reg = r.uleb128();
                setOffset(reg, static_cast<std::int64_t>(r.uleb128()));
                return true;
            }
            case cfa::kOffsetExtendedSf: {
                const std::uint64_t reg = r.uleb128();
                setFactored(reg, RuleKind::Offset, r.sleb128());
                return true;
            }
            case cfa::kGnuNegativeOffsetExtended: {
                const std::uint64_t reg = r.uleb128();
                setFactored(reg, RuleKind::Offset, static_cast<std::int64_t>(0 - r.uleb128()));
                return true;
            }
            case cfa::kValOffset: {
                const std::uint64_t reg = r.uleb128();
                setFactored(reg, RuleKind::ValOffset, static_cast<std::int64_t>(r.uleb128()));
                return true;
            }
            case cfa::kValOffsetSf: {
                const std::uint64_t reg = r.uleb128();
                setFactored(reg, RuleKind::ValOffset, r.sleb128());
                return true;
            }
            case cfa::kRestoreExtended: restore(r.uleb128()); return true;
            case cfa::kUndefined: setKind(r.uleb128(), RuleKind::Undefined); return true;
            case cfa::kSameValue: setKind(r.uleb128(), RuleKind::SameValue); return true;
            case cfa::kRegister: {
                const std::uint64_t reg = r.uleb128();
                const std::uint64_t source = r.uleb128();
                if (!r.ok()) return true;
                if (source >= kRuleCount) return invalidRegister(source);
                if (reg < kRuleCount) row_.rules[reg] = {RuleKind::Register, static_cast<unsigned>(source), 0, {}};
                return true;
            }
            case cfa::kRememberState:
                if (remembered_.size() >= kMaxRememberedStates) {
                    reportInvalidIndex(section_.names, Msg::WordStack, static_cast<std::int64_t>(remembered_.size()));
                    return false;
                }
                remembered_.push_back(row_);
                return true;
            case cfa::kRestoreState:
                if (remembered_.empty()) {
                    reportRegisterStackUnderflow(section_.names);
                    return false;
                }
                row_ = remembered_.back();
                remembered_.pop_back();
                return true;
            case cfa::kDefCfa: {
                const std::uint64_t reg = r.uleb128();
                return defineCfa(reg, static_cast<std::int64_t>(r.uleb128()), r.ok());
            }
            case cfa::kDefCfaSf: {
                const std::uint64_t reg = r.uleb128();
                return defineCfa(reg, factor(r.sleb128(), cie_.dataAlignment), r.ok());
            }
            case cfa::kDefCfaRegister: {
                const std::uint64_t reg = r.uleb128();
                if (!r.ok()) return true;
                if (reg >= kRuleCount) return invalidRegister(reg);
                if (row_.cfa.kind != CfaKind::RegisterOffset) row_.cfa = {CfaKind::RegisterOffset, 0, 0, {}};
                row_.cfa.reg = static_cast<unsigned>(reg);
                return true;
            }
            case cfa::kDefCfaOffset: setCfaOffset(static_cast<std::int64_t>(r.uleb128())); return true;
            case cfa::kDefCfaOffsetSf: setCfaOffset(factor(r.sleb128(), cie_.dataAlignment)); return true;
            case cfa::kDefCfaExpression: row_.cfa = {CfaKind::Expression, 0, 0, block(r)}; return true;
            case cfa::kExpression:
            case cfa::kValExpression: {
                const std::uint64_t reg = r.uleb128();
                const common::ByteView expression = block(r);
                if (r.ok() && reg < kRuleCount)
                    row_.rules[reg] = {opcode == cfa::kExpression ? RuleKind::Expression : RuleKind::ValExpression, 0, 0,
                                       expression};
                return true;
            }
            case cfa::kGnuArgsSize: r.uleb128(); return true;
            case cfa::kAArch64NegateRaState:
                if (!kIs64) break;
                row_.returnAddressSigned = !row_.returnAddressSigned;
                return true;
            default: break;
        }
        reportUnrecognizedOpcode(section_.names, opcode);
        return false;
    }

    static common::ByteView block(common::ByteReader& r) { return r.bytes(r.uleb128()); }

    bool setLocation(common::ByteReader& r, TargetWord address) {
        TargetWord value = 0;
        if (section_.format == CfiFormat::DebugFrame) {
            value = r.read<TargetWord>();
        } else {
            const PointerBases bases{address, std::nullopt};
            if (readEncodedPointer(r, cie_.fdeEncoding, bases, value) == PointerStatus::Unsupported) {
                reportUnsupportedEncoding(section_.names, cie_.fdeEncoding);
                return false;
            }
        }
        location_ = value;
        return true;
    }
    void setOffset(std::uint64_t reg, std::int64_t factoredOffset) {
        setFactored(reg, RuleKind::Offset, factoredOffset);
    }
    void setFactored(std::uint64_t reg, RuleKind kind, std::int64_t factoredOffset) {
        if (reg < kRuleCount) row_.rules[reg] = {kind, 0, factor(factoredOffset, cie_.dataAlignment), {}};
    }
    void setKind(std::uint64_t reg, RuleKind kind) {
        if (reg < kRuleCount) row_.rules[reg] = {kind, 0, 0, {}};
    }
    void restore(std::uint64_t reg) {
        if (reg < kRuleCount) row_.rules[reg] = initial_.rules[reg];
    }
    bool defineCfa(std::uint64_t reg, std::int64_t offset, bool ok) {
        if (!ok) return true;
        if (reg >= kRuleCount) return invalidRegister(reg);
        row_.cfa = {CfaKind::RegisterOffset, static_cast<unsigned>(reg), offset, {}};
        return true;
    }
    void setCfaOffset(std::int64_t offset) {
        // Only a register-based CFA takes a new offset; an undefined one stays undefined.
        if (row_.cfa.kind == CfaKind::RegisterOffset) row_.cfa.offset = offset;
    }
    bool invalidRegister(std::uint64_t reg) {
        reportInvalidIndex(section_.names, Msg::WordRegister, static_cast<std::int64_t>(reg));
        return false;
    }

    const CfiSection& section_;
    const Cie& cie_;
    const CfiRow& initial_;
    CfiRow& row_;
    std::uint64_t location_ = 0;
    std::vector<CfiRow> remembered_;
};

}  // namespace

CfiRow defaultRow(unsigned returnRegister) {
    CfiRow row;
    const unsigned firstSaved = kIs64 ? 19 : 4;
    const unsigned lastSaved = kIs64 ? 29 : 11;
    for (unsigned reg = firstSaved; reg <= lastSaved; ++reg) row.rules[reg].kind = RuleKind::SameValue;
    if (returnRegister < kRuleCount) row.rules[returnRegister].kind = RuleKind::SameValue;
    return row;
}

bool runCfiInstructions(const CfiSection& section, const Cie& cie, common::ByteView instructions, TargetWord address,
                        TargetWord location, std::optional<TargetWord> pc, const CfiRow& initial, CfiRow& row) {
    CfiMachine machine(section, cie, initial, row);
    return machine.run(instructions, address, location, pc);
}

std::optional<CfiRow> rowForPc(const CfiSection& section, const Fde& fde, TargetWord pc) {
    CfiRow row = defaultRow(fde.cie.returnRegister);
    const CfiRow defaults = row;
    if (!runCfiInstructions(section, fde.cie, fde.cie.instructions, fde.cie.instructionsAddress, 0, std::nullopt,
                            defaults, row))
        return std::nullopt;
    const CfiRow initial = row;
    if (!runCfiInstructions(section, fde.cie, fde.instructions, fde.instructionsAddress, fde.pcBegin, pc, initial, row))
        return std::nullopt;
    return row;
}

}  // namespace coresift::unwind

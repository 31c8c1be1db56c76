// The records of DWARF call-frame information as the unwinder keeps them: parsed CIEs and FDEs,
// register rules and the rule row that holds at one pc. Byte views point into the table's memory
// (the dump, or a symbol file's section) and live as long as it.
#pragma once

#include <array>
#include <cstdint>

#include "analyzer/decode/operation.h"
#include "analyzer/driver/console.h"
#include "common/byte_reader.h"
#include "common/target_word.h"

namespace coresift::unwind {

// Rules are kept for the registers a frame holds: r0-r15 (CoreSift) or x0-x30, sp, pc
// (CoreSift64), numbered as DWARF numbers them, which is also the numbering of RegisterState.
inline constexpr unsigned kRuleCount = decode::kValueRegisterCount;
inline constexpr unsigned kSpRegister = decode::kRegSp;
inline constexpr unsigned kPcRegister = decode::kRegPc;
inline constexpr unsigned kAddressSize = sizeof(TargetWord);

enum class CfiFormat : std::uint8_t { EhFrame, DebugFrame };

enum class RuleKind : std::uint8_t {
    Undefined,      // unknown in the caller
    SameValue,      // the caller's value is the callee's
    Offset,         // saved at CFA + offset
    ValOffset,      // the caller's value is CFA + offset
    Register,       // the caller's value is in register `reg`
    Expression,     // saved at the address the expression computes
    ValExpression,  // the caller's value is what the expression computes
};

struct RegisterRule {
    RuleKind kind = RuleKind::Undefined;
    unsigned reg = 0;
    std::int64_t offset = 0;
    common::ByteView expression;

    bool operator==(const RegisterRule& o) const {
        return kind == o.kind && reg == o.reg && offset == o.offset && expression.data() == o.expression.data() &&
               expression.size() == o.expression.size();
    }
};

enum class CfaKind : std::uint8_t { Unset, RegisterOffset, Expression };

struct CfaRule {
    CfaKind kind = CfaKind::Unset;
    unsigned reg = 0;
    std::int64_t offset = 0;
    common::ByteView expression;
};

// The rules that hold at one pc.
struct CfiRow {
    CfaRule cfa;
    std::array<RegisterRule, kRuleCount> rules{};
    // AArch64: the return address is signed with a PAC here (DW_CFA_AARCH64_negate_ra_state).
    bool returnAddressSigned = false;
};

struct Cie {
    unsigned version = 0;
    std::uint64_t codeAlignment = 1;
    std::int64_t dataAlignment = 1;
    unsigned returnRegister = 0;
    std::uint8_t fdeEncoding = 0;  // DW_EH_PE_absptr unless 'R' says otherwise
    bool augmented = false;        // 'z': augmentation data follows, FDEs carry their own
    bool signalFrame = false;      // 'S'
    common::ByteView instructions;
    TargetWord instructionsAddress = 0;
};

struct Fde {
    Cie cie;
    TargetWord pcBegin = 0;
    TargetWord pcEnd = 0;  // one past the last covered address (saturated)
    common::ByteView instructions;
    TargetWord instructionsAddress = 0;
};

// Names for messages: the module (or symbol file) and the section, and where to print.
struct TableNames {
    Console* console = nullptr;  // null: silent
    const char* module = "";
    const char* section = "";
};

}  // namespace coresift::unwind

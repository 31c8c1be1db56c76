#include "analyzer/unwind/cfi_step.h"

#include "analyzer/unwind/cfi_messages.h"
#include "analyzer/unwind/cfi_program.h"
#include "analyzer/unwind/dwarf_expression.h"

namespace coresift::unwind {
namespace {

ExpressionContext expressionContext(const TableNames& names, const UnwindMemory& memory,
                                    const RegisterState& registers, TargetWord initial, TargetWord cfa) {
    ExpressionContext context;
    context.names = names;
    context.registers = &registers;
    context.memory = &memory;
    context.initialValue = initial;
    context.cfa = cfa;
    return context;
}

std::optional<TargetWord> computeCfa(const CfaRule& rule, const TableNames& names, const UnwindMemory& memory,
                                     const RegisterState& registers) {
    switch (rule.kind) {
        case CfaKind::RegisterOffset:
            if (!registers.known(rule.reg)) return std::nullopt;
            return static_cast<TargetWord>(registers.r[rule.reg] + static_cast<TargetWord>(rule.offset));
        case CfaKind::Expression: {
            const TargetWord sp = registers.r[kSpRegister];
            const ExpressionContext context = expressionContext(names, memory, registers, sp, sp);
            std::optional<std::uint64_t> value = evaluateExpression(context, rule.expression, kAddressSize, false);
            if (!value) return std::nullopt;
            return static_cast<TargetWord>(*value);
        }
        case CfaKind::Unset: break;
    }
    reportInvalidSpRule(names);
    return std::nullopt;
}

// The caller's value of one register by its rule; false when the rule cannot be applied.
bool applyRule(const RegisterRule& rule, unsigned reg, TargetWord cfa, const TableNames& names,
               const UnwindMemory& memory, const RegisterState& callee, RegisterState& caller) {
    switch (rule.kind) {
        case RuleKind::Undefined: caller.forget(reg); return true;
        case RuleKind::SameValue: return true;
        case RuleKind::Offset: {
            TargetWord value = 0;
            if (!memory.readWord(cfa + static_cast<TargetWord>(rule.offset), value)) return false;
            caller.set(reg, value);
            return true;
        }
        case RuleKind::ValOffset: caller.set(reg, cfa + static_cast<TargetWord>(rule.offset)); return true;
        case RuleKind::Register:
            if (!callee.known(rule.reg)) return false;
            caller.set(reg, callee.r[rule.reg]);
            return true;
        case RuleKind::Expression:
        case RuleKind::ValExpression: {
            const ExpressionContext context = expressionContext(names, memory, callee, cfa, cfa);
            std::optional<std::uint64_t> value =
                evaluateExpression(context, rule.expression, kAddressSize, rule.kind == RuleKind::Expression);
            if (!value) return false;
            caller.set(reg, static_cast<TargetWord>(*value));
            return true;
        }
    }
    return false;
}

}  // namespace

StepStatus applyCfiRow(const CfiRow& row, unsigned returnRegister, const TableNames& names, const UnwindMemory& memory,
                       RegisterState& registers) {
    if (returnRegister >= kRuleCount) return StepStatus::Failed;
    // The outermost frame (a thread's or the program's entry) says so whatever else it holds.
    if (row.rules[returnRegister].kind == RuleKind::Undefined) return StepStatus::Outermost;
    std::optional<TargetWord> cfa = computeCfa(row.cfa, names, memory, registers);
    if (!cfa || !memory.contains(*cfa)) return StepStatus::Failed;

    RegisterState caller = registers;
    for (unsigned reg = 0; reg < kRuleCount; ++reg) {
        if (reg == kSpRegister) continue;
        if (!applyRule(row.rules[reg], reg, *cfa, names, memory, registers, caller)) return StepStatus::Failed;
    }
    caller.set(kSpRegister, *cfa);
    if (!caller.known(returnRegister)) return StepStatus::Failed;
    const TargetWord returnAddress = caller.r[returnRegister];
    caller.forget(returnRegister);
    caller.set(kPcRegister, returnAddress);
    registers = caller;
    return StepStatus::Stepped;
}

StepResult stepWithFde(const CfiSection& section, const Fde& fde, TargetWord tablePc, const UnwindMemory& memory,
                       RegisterState& registers) {
    StepResult result;
    result.source = section.format == CfiFormat::DebugFrame ? StepSource::DebugFrame : StepSource::EhFrame;
    result.signalFrame = fde.cie.signalFrame;
    std::optional<CfiRow> row = rowForPc(section, fde, tablePc);
    result.status = row ? applyCfiRow(*row, fde.cie.returnRegister, section.names, memory, registers) : StepStatus::Failed;
    return result;
}

}  // namespace coresift::unwind

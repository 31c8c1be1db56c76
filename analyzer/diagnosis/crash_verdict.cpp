#include "analyzer/diagnosis/crash_verdict.h"

#include "analyzer/diagnosis/crash_stack.h"
#include "analyzer/diagnosis/fault_evaluation.h"
#include "analyzer/diagnosis/verdict_rules.h"
#include "analyzer/driver/android_version.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/logs/log_tables.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/unwind/process_adapters.h"

namespace coresift {

namespace {

constexpr unsigned kSigBus = 7, kSigSegv = 11;
constexpr unsigned kSignalLines = 32;

// Addresses the C library and the old runtime store to on purpose to stop the process.
constexpr TargetWord kDalvikAbortAddress = 0xDEADD00D;
constexpr TargetWord kStackCheckAddress = 0xDEAD2AED;
constexpr TargetWord kLibcAbortAddress = 0xDEADBAAD;
constexpr TargetWord kStackCheckValue = 2797, kLibcAbortValue = 39;
constexpr TargetWord kFreeCheckValue = 0xDEADFEFE;

std::string innermostFunction(const VerdictInputs& in) { return frameLabel(in.frame(0)); }

void writeGenericStore(const VerdictInputs& in, const FaultEvaluation& fault, ReportWriter& report) {
    report.print(Msg::WriteIllegalAddress, innermostFunction(in), fault.value, fault.address);
    report.print(Msg::CheckCrashedCallstack);
}

void writeStoreVerdict(const VerdictInputs& in, const FaultEvaluation& fault, ReportWriter& report) {
    const TargetWord a = fault.address, v = fault.value;
    if (!in.hasFrames()) return writeGenericStore(in, fault, report);
    if (!kIs64 && in.androidVersion < 5) {
        if (a == kDalvikAbortAddress) {
            report.print(Msg::ProgramCalledDvmAbort);
            report.print(Msg::CheckCrashedCallstack);
            return;
        }
        if (a == kStackCheckAddress) {
            if (v == kStackCheckValue) report.print(Msg::StackFrameCorruption, frameLabel(in.frame(1)));
            else writeGenericStore(in, fault, report);
            return;
        }
        if (a == kLibcAbortAddress && v == kLibcAbortValue) {
            if (!writeAbortSite(in, 1, report)) report.print(Msg::ProgramCalledAbort);
            return;
        }
    }
    const bool inCLibrary = in.frame(0)->module == "libc.so";
    if (a == kLibcAbortAddress) {
        if (inCLibrary) report.print(Msg::MemoryCorruptionReferHeap, v);
        else writeGenericStore(in, fault, report);
        return;
    }
    if (a == 0 && v == kFreeCheckValue && in.frame(0)->module == "libhkd.so") {
        report.print(Msg::ErrorWhenFree);
        return;
    }
    writeGenericStore(in, fault, report);
}

}  // namespace

void writeSignalLine(unsigned signal, ReportWriter& report) {
    if (signal >= kSignalLines) report.print(Msg::UnrecognizedSignal);
    else report.print(static_cast<Msg>(static_cast<unsigned>(Msg::Signal0) + signal));
}

void writeFaultVerdict(const VerdictInputs& in, const FaultEvaluation& fault, ReportWriter& report) {
    switch (fault.code) {
        case FaultCode::Unreadable:
            report.print(Msg::ProgramCrashed);
            break;
        case FaultCode::BadPc: {
            const CrashFrame* caller = in.frame(1);
            if (caller && caller->hasFunction()) report.print(Msg::BadFunctionPointer, caller->function, fault.address);
            else report.print(Msg::ReturnToIllegalAddress, fault.address);
            break;
        }
        case FaultCode::Undefined:
            report.print(Msg::UndefinedInstruction, innermostFunction(in), static_cast<std::uint32_t>(fault.value));
            break;
        case FaultCode::Unaligned:
            report.print(Msg::UnalignedAccess, innermostFunction(in), fault.address);
            break;
        case FaultCode::BadLoad:
            report.print(Msg::ReadIllegalAddress, innermostFunction(in), fault.address);
            break;
        case FaultCode::BadStore:
            return writeStoreVerdict(in, fault, report);
        case FaultCode::Runs: {
            const MapEntry* region = in.signal == kSigBus && in.space ? in.space->regionAt(fault.address) : nullptr;
            if (!region) {
                report.print(Msg::ProgramIsNormal);
                return;
            }
            report.print(Msg::VisitedAddressNotInFile, fault.address, region->name);
            break;
        }
    }
    report.print(Msg::CheckCrashedCallstack);
}

void writeCrashVerdict(RunContext& context, ReportWriter& report) {
    if (!context.core || !context.core->firstThread) {
        report.print("\n");
        return;
    }
    const CoreDump& core = *context.core;
    static const std::vector<CrashFrame> kNoFrames;
    VerdictInputs in;
    in.signal = core.signal;
    in.tid = core.firstThread->tid;
    in.androidVersion = androidVersion(context);
    in.frames = context.crashStack ? &context.crashStack->crashFrames() : &kNoFrames;
    in.space = context.addressSpace.get();

    if (context.logs) {
        context.logs->signalDeliveryLine = -1;
        if (auto delivery = findSignalDelivery(context.logs->kernel, in.signal, in.tid)) {
            context.logs->signalDeliveryLine = static_cast<long>(delivery->line);
            if (writeSignalSender(*delivery, in.tid, in.signal, report)) return;
        }
    }
    if (writeAbortMessage(in, report)) return;
    if (in.hasFrames() && writeBacktraceRules(in, report)) return;
    if (in.signal != kSigBus && in.signal != kSigSegv) return writeSignalLine(in.signal, report);
    if (!in.space) {
        report.print(Msg::ProgramCrashed);
        report.print(Msg::CheckCrashedCallstack);
        return;
    }
    const FaultEvaluation fault = evaluateFault(*in.space, unwind::threadRegisters(core.firstThread->registers));
    writeFaultVerdict(in, fault, report);
}

}  // namespace coresift

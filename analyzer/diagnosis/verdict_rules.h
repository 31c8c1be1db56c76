// The verdict's rules, one function per rule, over what the crash diagnosis reads of the run.
// Each rule returns true when it wrote the verdict.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/diagnosis/crash_stack.h"

namespace coresift {

class AddressSpace;
class LineTable;
class ReportWriter;
struct FaultEvaluation;

struct VerdictInputs {
    unsigned signal = 0;
    std::uint32_t tid = 0;           // the crashed thread
    unsigned androidVersion = 1;
    const std::vector<CrashFrame>* frames = nullptr;  // innermost first; may be empty
    AddressSpace* space = nullptr;   // null: no memory to look at

    bool hasFrames() const { return frames && !frames->empty(); }
    const CrashFrame* frame(std::size_t i) const { return frames && i < frames->size() ? &(*frames)[i] : nullptr; }
};

// How frames are named in messages: the function name, else the pc, "??" for a missing frame.
std::string frameLabel(const CrashFrame* frame);

// Rule 1. The first kernel line that delivers the crash signal to the crashed thread.
struct SignalDelivery {
    std::size_t line = 0;       // index among the kernel lines
    std::int64_t senderId = 0;
    std::string senderName;     // at most 15 characters
};
std::optional<SignalDelivery> findSignalDelivery(const LineTable& kernel, unsigned signal, std::uint32_t tid);
bool writeSignalSender(const SignalDelivery& delivery, std::uint32_t tid, unsigned signal, ReportWriter& report);

// Rule 2 (SIGABRT): the C library's abort message.
std::optional<std::string> readAbortMessage(AddressSpace& space);
bool writeAbortMessage(const VerdictInputs& in, ReportWriter& report);

// Rule 3: library functions on the backtrace; and the abort-site rules alone, applied to frame
// `site` (the function that called abort), which the store rules reuse.
bool writeBacktraceRules(const VerdictInputs& in, ReportWriter& report);
bool writeAbortSite(const VerdictInputs& in, std::size_t site, ReportWriter& report);

// Rules 4 to 6.
void writeSignalLine(unsigned signal, ReportWriter& report);
void writeFaultVerdict(const VerdictInputs& in, const FaultEvaluation& fault, ReportWriter& report);

}  // namespace coresift

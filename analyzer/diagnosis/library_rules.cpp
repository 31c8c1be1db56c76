// Rules 2 and 3 of the verdict: the abort message the C library leaves in its own mapping, and
// the library functions on the backtrace that explain a SIGABRT or SIGFPE.
#include <cstring>

#include "analyzer/diagnosis/verdict_rules.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/process/address_space.h"
#include "common/text_format.h"

namespace coresift {

namespace {

constexpr std::string_view kAbortMessageMapping = "[anon:abort message]";
constexpr std::uint64_t kAbortMagic1 = 0xB18E40886AC388F0ull;
constexpr std::uint64_t kAbortMagic2 = 0xC6DFBA755A1DE0B5ull;
// The record: two magic words, the record's size (a size_t, counted from the mapping's start),
// then the text.
constexpr std::size_t kAbortSizeField = 16;
constexpr std::size_t kAbortTextOffset = kIs64 ? 24 : 20;
constexpr std::size_t kAbortTextLimit = 64 * 1024;

constexpr std::string_view kCLibrary = "libc.so";

bool inCLibrary(const CrashFrame* frame) { return frame && frame->module == kCLibrary; }
bool named(const CrashFrame* frame, std::string_view name) { return frame && frame->function == name; }

// The text of the record at the start of `region`, bounded by the region and the record's size.
std::optional<std::string> abortText(AddressSpace& space, const MapEntry& region) {
    std::uint8_t head[kAbortTextOffset];
    if (region.size() < kAbortTextOffset || !space.readMemory(region.start, head, sizeof head)) return std::nullopt;
    std::uint64_t magic1 = 0, magic2 = 0;
    std::memcpy(&magic1, head, 8);
    std::memcpy(&magic2, head + 8, 8);
    if (magic1 != kAbortMagic1 || magic2 != kAbortMagic2) return std::nullopt;
    TargetWord recordSize = 0;
    std::memcpy(&recordSize, head + kAbortSizeField, sizeof recordSize);
    TargetWord end = region.size();
    if (recordSize < end) end = recordSize;
    if (end <= kAbortTextOffset) return std::string();
    std::size_t room = static_cast<std::size_t>(end - kAbortTextOffset);
    if (room > kAbortTextLimit) room = kAbortTextLimit;
    std::string text(room, '\0');
    if (!space.readMemory(region.start + kAbortTextOffset, text.data(), room)) return std::nullopt;
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Writes message 207 with `who` and `what`, then message 208.
bool writeThrow(ReportWriter& report, const std::string& who, const std::string& what) {
    report.print(Msg::ThrowException, who, what);
    report.print(Msg::CheckCrashedCallstack);
    return true;
}

std::string stringArgument(const VerdictInputs& in, const CrashFrame& frame, unsigned argument) {
    if (!in.space || !frame.argumentKnown(argument)) return {};
    return in.space->readString(frame.arguments[argument]).value_or(std::string());
}

bool writeDivisionByZero(const VerdictInputs& in, ReportWriter& report) {
    const CrashFrame* top = in.frame(0);
    if (named(top, "kill") && named(in.frame(1), "__aeabi_idiv0")) {
        const CrashFrame* culprit = in.frame(2);
        if (culprit && culprit->hasFunction()) report.print(Msg::CrashedByDivideZeroAt, culprit->module, culprit->function);
        else report.print(Msg::CrashedByDivideZero);
        report.print(Msg::CheckCrashedCallstack);
        return true;
    }
    report.print(Msg::Signal8);
    return true;
}

// The old runtime aborted through dvmAbort; only Dalvik-era 32-bit releases have it.
bool writeDalvikAbort(const VerdictInputs& in, ReportWriter& report) {
    if (kIs64 || in.androidVersion > 5) return false;
    for (std::size_t i = 0; inCLibrary(in.frame(i)); ++i) {
        if (named(in.frame(i), "abort") && named(in.frame(i + 1), "dvmAbort")) {
            report.print(Msg::ProgramCalledDvmAbort);
            report.print(Msg::CheckCrashedCallstack);
            return true;
        }
    }
    return false;
}

bool writeAbortWalk(const VerdictInputs& in, ReportWriter& report) {
    for (std::size_t i = 0; in.frame(i); ++i) {
        if (named(in.frame(i), "abort")) return writeAbortSite(in, i + 1, report);
        if (!inCLibrary(in.frame(i + 1))) return false;
    }
    return false;
}

}  // namespace

std::string frameLabel(const CrashFrame* frame) {
    if (!frame) return "??";
    if (frame->hasFunction()) return frame->function;
    return common::format(kAddressFormat, frame->pc).text;
}

std::optional<std::string> readAbortMessage(AddressSpace& space) {
    std::optional<std::string> found;
    space.forEachRegion(0, ~TargetWord{0}, [&](MapEntry& region) {
        if (region.name != kAbortMessageMapping) return 0;
        found = abortText(space, region);
        return found ? 1 : 0;
    });
    return found;
}

bool writeAbortMessage(const VerdictInputs& in, ReportWriter& report) {
    if (in.signal != 6 || !in.space) return false;
    const std::optional<std::string> text = readAbortMessage(*in.space);
    if (!text) return false;
    report.print(Msg::ThrowException, "null", *text);
    if (text->empty() || text->back() != '\n') report.print("\n");
    return true;
}

bool writeAbortSite(const VerdictInputs& in, std::size_t site, ReportWriter& report) {
    const CrashFrame* c = in.frame(site);
    if (!c) return false;
    if (!kIs64 && in.androidVersion < 6 && c->module == "libdvm.so") return false;
    const CrashFrame* caller = in.frame(site + 1);
    if (c->function == "__android_log_assert") {
        const std::string text = c->argumentCount > 2 ? stringArgument(in, *c, 2) : std::string();
        return writeThrow(report, frameLabel(caller), text);
    }
    if (c->function == "__libc_fatal") {
        if (frameLabel(caller) == "__stack_chk_fail") {
            report.print(Msg::StackFrameCorruption, frameLabel(in.frame(site + 2)));
            return true;
        }
        return writeThrow(report, frameLabel(caller), stringArgument(in, *c, 0));
    }
    if (c->function == "bt_assert") {
        report.print(Msg::BluetoothCrashed, "", 0, "");
        report.print(Msg::CheckCrashedCallstack);
        return true;
    }
    if (c->function == "fdleak_record_backtrace") {
        report.print(Msg::FdLeakReferFdCheck);
        return true;
    }
    if (c->function == "__assert2" || c->function == "__fortify_fatal") {
        const CrashFrame* who = caller ? caller : c;
        return writeThrow(report, who->hasFunction() ? who->function : who->module, "abort()");
    }
    return writeThrow(report, c->hasFunction() ? c->function : c->module, "abort()");
}

bool writeBacktraceRules(const VerdictInputs& in, ReportWriter& report) {
    if (!inCLibrary(in.frame(0))) return false;
    if (in.signal == 8) return writeDivisionByZero(in, report);
    if (in.signal != 6) return false;
    return writeAbortWalk(in, report) || writeDalvikAbort(in, report);
}

}  // namespace coresift

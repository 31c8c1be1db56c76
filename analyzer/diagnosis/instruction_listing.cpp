#include "analyzer/diagnosis/instruction_listing.h"

#include <string>

#include "analyzer/decode/effects.h"
#include "analyzer/decode/printer.h"
#include "analyzer/decode/target_memory.h"
#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/listing_slice.h"
#include "analyzer/diagnosis/listing_window.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"

namespace coresift {

namespace {

using namespace decode;
using listing::Line;
using listing::Tip;
using listing::Window;

// The largest window listed: a bigger "function" is a symbol that does not fit the code.
constexpr TargetWord kMaxWindow = 256 * 1024;

constexpr const char* kAddressColumn = kIs64 ? "%llX:  " : "%X:  ";

class SpaceMemory final : public TargetMemory {
public:
    explicit SpaceMemory(AddressSpace& space) : space_(space) {}
    bool read(TargetWord address, void* out, std::size_t size) const override {
        return space_.readMemory(address, out, size);
    }

private:
    AddressSpace& space_;
};

TargetWord codeAddress(TargetWord pc) { return AddressSpace::untag(pc) & ~TargetWord{1}; }

// An outer frame's pc is the return address; its listing starts at the call before it.
TargetWord callSite(AddressSpace& space, InstructionSet set, TargetWord returnAddress) {
    const unsigned sizes[2] = {4, 2};
    for (unsigned size : sizes) {
        if (size == 2 && set != InstructionSet::Thumb) break;
        std::uint32_t word = 0;
        if (returnAddress < size || !space.readMemory(returnAddress - size, &word, size)) continue;
        unsigned length = 0;
        const Effects effects = effectsOf(set, word, length);
        if (effects.calls && length == size) return returnAddress - size;
    }
    return returnAddress;
}

unsigned hexDigits(TargetWord value) {
    unsigned digits = 1;
    while (value >>= 4) ++digits;
    return digits;
}

// The window from the function's start to its end, or to the pc instruction when the end is
// not known; the pc instruction alone without a start. False when the bytes are not readable.
bool buildWindow(AddressSpace& space, CodeSymbols& symbols, InstructionSet set, TargetWord pcInstruction,
                 Window& window, bool& startKnown) {
    window.set = set;
    TargetWord start = pcInstruction, end = pcInstruction + 4;
    startKnown = false;
    if (auto function = symbols.functionAt(pcInstruction)) {
        const TargetWord s = codeAddress(function->start);
        if (s <= pcInstruction && pcInstruction - s < kMaxWindow && (pcInstruction - s) % window.slotBytes() == 0) {
            start = s;
            startKnown = true;
            const bool sized = function->size > 0 && function->size <= kMaxWindow && pcInstruction < s + function->size;
            if (sized) end = s + function->size;
        }
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        window.bytes.assign(static_cast<std::size_t>(end - start), 0);
        if (space.readMemory(start, window.bytes.data(), window.bytes.size())) break;
        if (attempt == 1 || end == pcInstruction + 4) return false;
        end = pcInstruction + 4;  // the function's tail may lie past the dumped code
    }
    window.start = start;
    window.lines.assign(window.bytes.size() / window.slotBytes(), Line{});
    window.pcSlot = static_cast<std::size_t>((pcInstruction - start) / window.slotBytes());
    return window.pcSlot < window.lines.size();
}

void printTip(ReportWriter& report, const Line& line, const std::optional<FunctionExtent>& function) {
    switch (line.tip) {
        case Tip::Parameter:
            if (function && !function->name.empty()) report.print("\t; %s", function->name);
            else report.print(kIs64 ? "\t; 0x%016llX" : "\t; 0x%08X", function ? codeAddress(function->start) : TargetWord{0});
            report.print("()%s", report.text(Msg::WordPara));
            for (unsigned i = 0; i < 8; ++i)
                if (line.parameters >> i & 1) report.print(" %d", static_cast<int>(i + 1));
            report.print(Msg::MaybeHaveProblem);
            break;
        case Tip::GlobalVariable:
        case Tip::LocalVariable:
        case Tip::ReturnValue:
            report.print(line.tip == Tip::GlobalVariable ? Msg::TipGlobalVariable
                         : line.tip == Tip::LocalVariable ? Msg::TipLocalVariable
                                                          : Msg::TipReturnValue);
            report.print(Msg::MaybeHaveProblem);
            break;
        case Tip::StopHere: report.print(Msg::ThreadStopHere); break;
        case Tip::ExecuteError: report.print(Msg::TipExecuteError); break;
        case Tip::None:
        case Tip::Join: break;
    }
}

void printWindow(AddressSpace& space, CodeSymbols& symbols, ReportWriter& report, const Window& window,
                 const std::optional<FunctionExtent>& function) {
    SpaceMemory memory(space);
    std::string previousFile;
    unsigned previousLine = 0;
    for (std::size_t slot = 0; slot < window.slotCount(); ++slot) {
        const Line& line = window.lines[slot];
        if (!line.printed) continue;
        const TargetWord address = window.addressOf(slot);
        report.print("\n");
        if (auto position = symbols.lineAt(address)) {
            if (position->file != previousFile) report.print("\t%s\n", position->file);
            if (position->line != previousLine) report.print("\t%-4d: ", static_cast<int>(position->line));
            else report.print("\t      ");
            previousFile = position->file;
            previousLine = position->line;
        } else {
            report.print("\t      ");
        }
        report.print(kAddressColumn, address);
        if (line.tip == Tip::Join) continue;
        std::uint32_t word = 0;
        window.wordAt(slot, word);
        TextSink text;
        printInstruction(window.set, word, address, text, &memory, symbols.namer());
        report.print("%s", std::string(text.view()));
        printTip(report, line, function);
        if (!line.annotation.empty()) report.print("\t; %s", line.annotation);
    }
}

}  // namespace

std::uint32_t listFrame(AddressSpace& space, CodeSymbols& symbols, ReportWriter& report, const CrashFrame& frame,
                        bool innermost, std::uint32_t tracedParameters) {
    const TargetWord code = codeAddress(frame.pc);
    if (!symbols.hasSymbolFile(code)) return 0;
    const InstructionSet set = setOfAddress(frame.pc);
    const TargetWord pcInstruction = innermost ? code : callSite(space, set, code);
    Window window;
    bool startKnown = false;
    if (!buildWindow(space, symbols, set, pcInstruction, window, startKnown)) return 0;
    const std::optional<FunctionExtent> function = symbols.functionAt(pcInstruction);

    if (innermost) report.print(Msg::AssemblyListingTitle, static_cast<int>(hexDigits(code) - 1), ' ');
    else report.print("\n");

    listing::findPath(window);
    listing::SliceState state;
    state.registers = frame.registers;
    state.traced = innermost ? listing::faultSources(window) : tracedParameters & kParameterMask;
    listing::SliceServices services{space, symbols};
    const std::uint64_t remaining = listing::traceBack(window, state, services);
    const std::uint32_t parameters = startKnown ? static_cast<std::uint32_t>(remaining & kParameterMask) : 0;

    if (parameters) {
        for (Line& line : window.lines) {
            if (!line.printed) continue;
            if (line.tip != Tip::ExecuteError) {
                line.tip = Tip::Parameter;
                line.parameters = parameters;
            }
            break;
        }
    }
    Line& pcLine = window.lines[window.pcSlot];
    if (innermost && pcLine.tip == Tip::None) pcLine.tip = Tip::StopHere;
    printWindow(space, symbols, report, window, function);
    return kListingWritten | (state.inconsistent ? 0 : parameters);
}

void printRegisterValues(ReportWriter& report, const RegisterState& registers) {
    static const char* const kNames32[] = {"R0", "R1", "R2", "R3", "R4",  "R5", "R6",  "R7",
                                           "R8", "R9", "R10", "R11", "R12", "SP", "R14", "PC"};
    report.print(Msg::CurrentRegisterValues);
    for (unsigned r = 0; r < kValueRegisterCount; ++r) {
        std::string name;
        if constexpr (kIs64) name = r == kRegSp ? "SP" : r == kRegPc ? "PC" : "X" + std::to_string(r);
        else name = kNames32[r];
        if (r > 0) {
            if (r % 8 == 0) report.print(",\n\t");
            else report.print(",%*c", static_cast<int>(kIs64 ? (name.size() > 2 ? 1 : 2) : (r <= 10 ? 2 : 1)), ' ');
        }
        report.print(kIs64 ? "%s: %016llX" : "%s: %08X", name, registers.r[r]);
    }
    report.print("\n");
}

void writeInstructionListing(AddressSpace& space, CodeSymbols& symbols, ReportWriter& report,
                             const std::vector<CrashFrame>& frames) {
    bool written = false;
    std::uint32_t traced = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (!frames[i].ordinary) break;
        if (frames[i].inlined) continue;  // its machine frame was listed already
        const std::uint32_t result = listFrame(space, symbols, report, frames[i], i == 0, traced);
        written |= (result & kListingWritten) != 0;
        traced = result & kParameterMask;
        if (!traced) break;
    }
    if (written) printRegisterValues(report, frames.front().registers);
}

void writeInstructionListing(RunContext& context, ReportWriter& report) {
    if (!context.addressSpace || !context.codeSymbols || !context.crashStack) return;
    const std::vector<CrashFrame>& frames = context.crashStack->crashFrames();
    if (frames.empty()) return;
    writeInstructionListing(*context.addressSpace, *context.codeSymbols, report, frames);
}

}  // namespace coresift

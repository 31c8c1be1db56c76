#include "analyzer/unwind/exidx_table.h"

#include <algorithm>

#include "analyzer/unwind/cfi_messages.h"
#include "analyzer/unwind/pointer_auth.h"

namespace coresift::unwind {
namespace {

constexpr std::uint32_t kEntrySize = 8;

// A prel31 field: a 31-bit signed offset from the field's own address.
std::uint32_t prel31Target(std::uint32_t fieldAddress, std::uint32_t word) {
    const std::uint32_t offset = (word & 0x7FFFFFFFu) | ((word & 0x40000000u) << 1);
    return fieldAddress + offset;
}

void addWordBytes(ExidxProgram& program, std::uint32_t word, unsigned firstByte) {
    // Instruction bytes are taken from the most significant byte of each word down.
    for (int shift = 24 - 8 * static_cast<int>(firstByte); shift >= 0; shift -= 8)
        program.add(static_cast<std::uint8_t>(word >> shift));
}

}  // namespace

ExidxTable::ExidxTable(std::string moduleName, TargetWord address, std::uint32_t count)
    : name_(std::move(moduleName)), address_(address), declaredCount_(count) {}

void ExidxTable::open(const StepEnvironment& env) {
    if (opened_) return;
    opened_ = true;
    const common::ByteView bytes = env.memory->bytesAt(address_);
    const std::uint64_t readable = bytes.size() / kEntrySize;
    if (readable < declaredCount_) reportSegmentCorrupted({env.console, name_.c_str(), ".ARM.exidx"}, address_);
    count_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(readable, declaredCount_));
}

std::optional<ExidxTable::Entry> ExidxTable::entryAt(const StepEnvironment& env, std::uint32_t index) const {
    const common::ByteView bytes = env.memory->bytesAt(address_);
    std::optional<std::uint32_t> word0 = bytes.read<std::uint32_t>(std::uint64_t{index} * kEntrySize);
    std::optional<std::uint32_t> word1 = bytes.read<std::uint32_t>(std::uint64_t{index} * kEntrySize + 4);
    if (!word0 || !word1) return std::nullopt;
    Entry entry;
    entry.index = index;
    entry.address = address_ + static_cast<TargetWord>(index) * kEntrySize;
    // A Thumb function's start may carry the Thumb bit; starts are compared as addresses.
    entry.functionStart = prel31Target(static_cast<std::uint32_t>(entry.address), *word0) & ~1u;
    entry.data = *word1;
    return entry;
}

std::optional<ExidxTable::Entry> ExidxTable::entryFor(const StepEnvironment& env, TargetWord pc) {
    open(env);
    // The last entry whose function starts at or below pc; entries are sorted by function start.
    std::uint32_t low = 0, high = count_;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        std::optional<Entry> entry = entryAt(env, middle);
        if (!entry) return std::nullopt;
        if (entry->functionStart <= pc) low = middle + 1;
        else high = middle;
    }
    if (low == 0) return std::nullopt;
    return entryAt(env, low - 1);
}

std::optional<FunctionExtent> ExidxTable::functionAt(const StepEnvironment& env, TargetWord pc) {
    std::optional<Entry> entry = entryFor(env, pc);
    if (!entry) return std::nullopt;
    FunctionExtent extent{entry->functionStart, 0};
    if (entry->index + 1 < count_) {
        if (std::optional<Entry> next = entryAt(env, entry->index + 1); next && next->functionStart > entry->functionStart)
            extent.length = next->functionStart - entry->functionStart;
    }
    return extent;
}

ExidxRun ExidxTable::program(const StepEnvironment& env, const Entry& entry, ExidxProgram& out) const {
    out.size = 0;
    if (entry.data == kCantUnwind) return ExidxRun::Refused;
    std::uint32_t word0 = entry.data;
    TargetWord data = 0;
    const bool inline_ = (entry.data & 0x80000000u) != 0;
    if (!inline_) {
        data = prel31Target(static_cast<std::uint32_t>(entry.address + 4), entry.data);
        if (!env.memory->read32(data, word0)) return ExidxRun::Failed;
    }
    auto readWords = [&](TargetWord from, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            std::uint32_t word = 0;
            if (!env.memory->read32(from + 4 * i, word)) return false;
            addWordBytes(out, word, 0);
        }
        return true;
    };
    if (!(word0 & 0x80000000u)) {
        // Generic model: a personality routine (word 0), then a word whose top byte counts the
        // words that follow it, and the instructions in its three remaining bytes and those words.
        if (inline_) return ExidxRun::Failed;
        std::uint32_t word1 = 0;
        if (!env.memory->read32(data + 4, word1)) return ExidxRun::Failed;
        addWordBytes(out, word1, 1);
        return readWords(data + 8, word1 >> 24) ? ExidxRun::Done : ExidxRun::Failed;
    }
    const unsigned personality = (word0 >> 24) & 0x0F;
    if (personality == 0) {
        addWordBytes(out, word0, 1);
        return ExidxRun::Done;
    }
    // Long forms (personality routines 1 and 2): a word count, then the instructions. An inline
    // entry has no room for them.
    if (personality > 2 || inline_) return ExidxRun::Failed;
    addWordBytes(out, word0, 2);
    return readWords(data + 4, (word0 >> 16) & 0xFF) ? ExidxRun::Done : ExidxRun::Failed;
}

StepResult ExidxTable::step(const StepEnvironment& env, RegisterState& registers) {
    StepResult result;
    result.source = StepSource::Exidx;
    if constexpr (kIs64) {
        return result;
    } else {
        const TargetWord pc = stripPointerAuth(registers.r[ArmRegisters::kPc], env.addressBits) & ~TargetWord{1};
        std::optional<Entry> entry = entryFor(env, pc);
        if (!entry) return result;
        ExidxProgram program;
        const ExidxRun located = this->program(env, *entry, program);
        if (located != ExidxRun::Done) {
            result.status = located == ExidxRun::Refused ? StepStatus::CannotUnwind : StepStatus::Failed;
            return result;
        }
        if (!env.memory->contains(registers.r[ArmRegisters::kSp])) {
            result.status = StepStatus::Failed;
            return result;
        }
        ArmRegisters frame;
        for (unsigned reg = 0; reg < 16; ++reg) frame.r[reg] = registers.r[reg];
        frame.valid = static_cast<std::uint32_t>(registers.valid & 0xFFFF);
        const ExidxRun run = runExidxProgram(program, *env.memory, frame);
        if (run != ExidxRun::Done) {
            result.status = run == ExidxRun::Refused ? StepStatus::CannotUnwind : StepStatus::Failed;
            return result;
        }
        for (unsigned reg = 0; reg < 16; ++reg) registers.r[reg] = frame.r[reg];
        registers.valid = frame.valid;
        result.status = StepStatus::Stepped;
        return result;
    }
}

}  // namespace coresift::unwind

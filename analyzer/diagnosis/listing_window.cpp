#include "analyzer/diagnosis/listing_window.h"

#include <utility>

namespace coresift::listing {

namespace {

using namespace decode;

// What the path search needs of an instruction: whether it is a branch without link to an
// immediate target, and whether it may fall through.
struct BranchInfo {
    bool branch = false;
    bool conditional = false;
    std::int64_t offset = 0;
};

unsigned ignoreUndefined(std::uint32_t, unsigned, void*) { return 0; }
unsigned ignoreDp(std::uint32_t, unsigned, unsigned, unsigned, std::uint64_t, void*) { return 0; }
unsigned ignoreLoadStore(std::uint32_t, const std::uint8_t*, unsigned, unsigned, std::int64_t, void*) { return 0; }
unsigned ignoreSystem(std::uint32_t, std::uint64_t, void*) { return 0; }
unsigned onBranch(std::uint32_t op, std::int64_t offset, unsigned, unsigned, void* c) {
    auto& info = *static_cast<BranchInfo*>(c);
    if (has(op, op::kLink) || has(op, op::kRegisterTarget)) return 0;
    info.branch = true;
    info.conditional = isConditional(op) || has(op, op::kCompareZero) || has(op, op::kTestBit);
    info.offset = offset;
    return 0;
}
constexpr Visitor kBranchVisitor = {ignoreUndefined, onBranch, ignoreDp, ignoreLoadStore, ignoreSystem};

class PathSearch {
public:
    PathSearch(Window& window, const PathLimits& limits)
        : window_(window), limits_(limits), onPath_(window.slotCount()), dead_(window.slotCount()) {}

    bool explore(std::size_t slot, unsigned depth);
    const std::vector<std::pair<std::size_t, std::size_t>>& taken() const { return taken_; }

private:
    // The slot a branch at `slot` jumps to; -1 outside the window or between slots.
    long targetOf(std::size_t slot, std::int64_t offset) const {
        const TargetWord source = window_.addressOf(slot);
        const TargetWord target = pcValue(window_.set, source) + static_cast<TargetWord>(offset);
        const TargetWord distance = target - window_.start;
        if (target < window_.start || distance % window_.slotBytes() != 0) return -1;
        const TargetWord index = distance / window_.slotBytes();
        return index < window_.slotCount() ? static_cast<long>(index) : -1;
    }
    bool usable(long target, std::size_t from) const {
        return target >= 0 && static_cast<std::size_t>(target) != from && !onPath_[target] && !dead_[target];
    }

    Window& window_;
    PathLimits limits_;
    std::vector<std::uint8_t> onPath_, dead_;
    std::vector<std::pair<std::size_t, std::size_t>> taken_;  // (branch slot, target slot)
    unsigned work_ = 0;
};

// Walks from `slot` along fall-through and unconditional branches; a conditional branch first
// explores its fall-through one level deeper, then takes the branch. Slots of a walk that fails
// are dead for every later walk, which keeps the whole search linear in the window's size.
bool PathSearch::explore(std::size_t slot, unsigned depth) {
    if (depth > limits_.maxDepth) return false;
    std::vector<std::size_t> visited;
    const std::size_t takenMark = taken_.size();
    auto fail = [&] {
        for (std::size_t v : visited) {
            onPath_[v] = 0;
            dead_[v] = 1;
        }
        taken_.resize(takenMark);
        return false;
    };
    for (;;) {
        if (slot == window_.pcSlot) return true;
        if (slot >= window_.slotCount() || dead_[slot] || onPath_[slot] || ++work_ > limits_.maxInstructions)
            return fail();
        onPath_[slot] = 1;
        visited.push_back(slot);
        window_.lines[slot].instruction = true;
        BranchInfo info;
        const unsigned length = window_.decodeAt(slot, kBranchVisitor, &info);
        if (length == 0) return fail();
        const std::size_t next = slot + length / window_.slotBytes();
        if (!info.branch) {
            slot = next;
            continue;
        }
        const long target = targetOf(slot, info.offset);
        if (info.conditional && explore(next, depth + 1)) return true;
        if (!usable(target, slot)) return fail();
        taken_.emplace_back(slot, static_cast<std::size_t>(target));
        slot = static_cast<std::size_t>(target);
    }
}

}  // namespace

bool Window::wordAt(std::size_t slot, std::uint32_t& word) const {
    const std::size_t offset = slot * slotBytes();
    if (offset >= bytes.size()) return false;
    word = 0;
    for (std::size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) word |= std::uint32_t{bytes[offset + i]} << (8 * i);
    return true;
}

unsigned Window::decodeAt(std::size_t slot, const Visitor& visitor, void* context) const {
    std::uint32_t word = 0;
    if (!wordAt(slot, word)) return 0;
    unsigned length = 0;
    decodeInstruction(set, word, length, visitor, context);
    return length ? length : slotBytes();
}

long Window::previousSlot(std::size_t slot) const {
    for (std::size_t s = slot; s-- > 0;)
        if (lines[s].instruction && !lines[s].taken) return static_cast<long>(s);
    return -1;
}

bool findPath(Window& window, const PathLimits& limits) {
    BranchInfo ignored;
    for (std::size_t slot = 0; slot < window.slotCount();) {
        window.lines[slot].instruction = true;
        const unsigned length = window.decodeAt(slot, kBranchVisitor, &ignored);
        slot += length ? length / window.slotBytes() : 1;
    }
    if (window.pcSlot < window.slotCount()) window.lines[window.pcSlot].instruction = true;
    PathSearch search(window, limits);
    if (!search.explore(0, 0)) return false;
    for (const auto& [branch, target] : search.taken()) {
        window.lines[branch].taken = true;
        window.lines[target].backLink = static_cast<long>(branch);
    }
    return true;
}

}  // namespace coresift::listing

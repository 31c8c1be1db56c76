// Start-up phase tables: each step's init result is kept as its state; clean-up runs back to
// front and calls the clean-up of every step whose state is non-zero.
#pragma once

#include <cstdint>
#include <vector>

namespace coresift {

struct RunContext;

struct InitStep {
    std::uint32_t state = 0;
    std::uint32_t (*init)(RunContext&) = nullptr;
    void (*cleanup)(RunContext&) = nullptr;
};

using PhaseTable = std::vector<InitStep>;

inline void runPhase(PhaseTable& table, RunContext& context) {
    for (auto& step : table) step.state = step.init ? step.init(context) : 0;
}

inline void cleanupPhase(PhaseTable& table, RunContext& context) {
    for (auto it = table.rbegin(); it != table.rend(); ++it) {
        if (it->state != 0 && it->cleanup) it->cleanup(context);
        it->state = 0;
    }
}

}  // namespace coresift

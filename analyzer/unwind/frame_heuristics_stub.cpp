// Stand-in until forward emulation and argument recovery are wired to the decoder: frames that no
// table steps end the walk's current part, and frames carry no arguments.
#include "analyzer/unwind/frame_heuristics.h"

namespace coresift::unwind {

namespace {

class NoHeuristics final : public FrameHeuristics {
public:
    StepResult forwardStep(const StepEnvironment&, RegisterState&) override { return {StepStatus::Failed}; }
    std::vector<FrameArgument> arguments(const StepEnvironment&, const ArgumentRequest&) override { return {}; }
};

}  // namespace

std::unique_ptr<FrameHeuristics> makeFrameHeuristics() { return std::make_unique<NoHeuristics>(); }

}  // namespace coresift::unwind

// The report's thread section: the crashing thread in full and, with option bit 0x80 (-t), every
// other thread, threads with identical call stacks printed once as a group.
#pragma once

namespace coresift {

class ReportWriter;
struct RunContext;
struct ThreadRecord;

// Writes the section into the open report (and its progress line on the console).
void writeThreadInfo(RunContext& context, ReportWriter& report);

// One thread's header line in a block: "   Name: N, state, tid: T, Priority: P, policy (main thread)".
void writeThreadHeader(ReportWriter& report, const ThreadRecord& thread);

}  // namespace coresift

// The crash verdict: the one paragraph after "Detail  : " at the top of the report that says why
// the process died. The first rule that has something to say ends the diagnosis:
//   1. the kernel log shows another process sending the crash signal;
//   2. (SIGABRT) the C library's abort message in the dump;
//   3. library functions on the crashed thread's backtrace (abort sites, division by zero);
//   4. any signal other than SIGBUS and SIGSEGV: the signal's own line;
//   5. SIGBUS and SIGSEGV: the faulting instruction re-evaluated on the crash registers, with the
//      special store addresses the C library and the old runtime use to abort on purpose.
#pragma once

namespace coresift {

class ReportWriter;
struct RunContext;

// Writes exactly one verdict, ended by a newline (an empty line without a process).
void writeCrashVerdict(RunContext& context, ReportWriter& report);

}  // namespace coresift

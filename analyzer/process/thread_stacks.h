// Where the thread report meets stack unwinding: the frame addresses that group threads with the
// same call stack, and the stacks printed in a thread's block. The run context holds none until
// stacks can be unwound; every thread is then reported alone with its header lines.
#pragma once

#include <vector>

#include "common/target_word.h"

namespace coresift {

class ReportWriter;
struct ThreadRecord;

// A thread's frames as grouping compares them: each frame's function start plus its offset into
// the function (the pc when no symbol is known), innermost first.
struct StackAddresses {
    std::vector<TargetWord> native;
    std::vector<TargetWord> java;
};

class ThreadStacks {
public:
    virtual ~ThreadStacks() = default;

    // Unwinds the thread's native stack without details (and takes its Java frames).
    virtual StackAddresses addresses(ThreadRecord& thread) = 0;
    // Writes the Java and native parts of a thread block for its representative thread: the Java
    // state and frames, then the native frames (and, for the first thread of the dump, the
    // instruction listing and the register dump).
    virtual void writeStacks(ReportWriter& report, ThreadRecord& thread) = 0;
};

}  // namespace coresift

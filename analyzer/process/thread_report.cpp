#include "analyzer/process/thread_report.h"

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "analyzer/driver/report_writer.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/hash_table.h"
#include "analyzer/process/thread_stacks.h"

namespace coresift {

namespace {

// Threads whose call stacks are identical. Members are kept oldest first and printed newest
// first; the oldest stands for the group when its stacks are printed.
struct ThreadGroup {
    StackAddresses stack;
    std::size_t frameCount = 0;
    std::vector<ThreadRecord*> members;
};

Msg stateName(std::uint32_t state) { return static_cast<Msg>(static_cast<unsigned>(Msg::StateRunning) + state); }
Msg policyName(std::uint32_t policy) { return static_cast<Msg>(static_cast<unsigned>(Msg::PolicyNormal) + policy); }

// h = h * 33 + (address >> 2) over the native frames, then the Java frames, in 32-bit arithmetic.
std::uint32_t stackHash(const StackAddresses& stack) {
    std::uint32_t hash = 0;
    for (TargetWord address : stack.native) hash = hash * 33 + static_cast<std::uint32_t>(address >> 2);
    for (TargetWord address : stack.java) hash = hash * 33 + static_cast<std::uint32_t>(address >> 2);
    return hash;
}

void writeBlock(RunContext& context, ReportWriter& report, const std::vector<ThreadRecord*>& members) {
    for (auto it = members.rbegin(); it != members.rend(); ++it) {
        writeThreadHeader(report, **it);
        (*it)->setFlags(thread_flag::kPrinted);
    }
    if (context.stacks) context.stacks->writeStacks(report, *members.front());
    report.print("\n");
}

// Adds a thread to the group of its call stack, or starts a group; a thread without native
// frames is left out.
void addToGroups(HashTable<ThreadGroup>& groups, ThreadRecord& thread, StackAddresses stack) {
    if (stack.native.empty()) return;
    auto group = std::make_unique<ThreadGroup>();
    group->frameCount = stack.native.size() + stack.java.size();
    group->stack = std::move(stack);
    const ThreadGroup& probe = *group;
    auto same = [&probe](const ThreadGroup& other) {
        return other.frameCount == probe.frameCount && other.stack.native == probe.stack.native &&
               other.stack.java == probe.stack.java;
    };
    std::uint32_t hash = stackHash(group->stack);
    if (ThreadGroup* existing = groups.find(hash, same)) {
        existing->members.push_back(&thread);
        return;
    }
    group->members.push_back(&thread);
    groups.insert(hash, std::move(group), same);  // out of memory: the thread is left out
}

// Groups the threads not printed yet by their call stacks; threads without native frames are
// left out. Prints the groups in the grouping table's slot order.
void writeGroupedThreads(RunContext& context, ReportWriter& report) {
    CoreDump& core = *context.core;
    HashTable<ThreadGroup> groups(core.threads.count());
    core.threads.forEach([&](ThreadRecord& thread) {
        if (thread.flags & thread_flag::kPrinted) return 0;
        try {
            addToGroups(groups, thread, context.stacks->addresses(thread));
        } catch (const std::bad_alloc&) {
            // The thread that could not be grouped is left out.
        }
        return 0;
    });
    groups.forEach([&](ThreadGroup& group) {
        writeBlock(context, report, group.members);
        return 0;
    });
}

// Without unwound stacks every thread not printed yet gets its own block, in table order.
void writeEachThread(RunContext& context, ReportWriter& report) {
    context.core->threads.forEach([&](ThreadRecord& thread) {
        if (!(thread.flags & thread_flag::kPrinted)) writeBlock(context, report, {&thread});
        return 0;
    });
}

}  // namespace

void writeThreadHeader(ReportWriter& report, const ThreadRecord& thread) {
    report.print("   ");
    if (!thread.name.empty()) report.print(Msg::ThreadName, thread.name);
    if (thread.state < kStateUnknown) report.print("%s, ", report.text(stateName(thread.state)));
    report.print("tid: %d", thread.tid);
    if (thread.priority != kDefaultPriority) {
        std::uint32_t policy = thread.policy > kPolicyUnknown ? kPolicyUnknown : thread.policy;
        report.print(Msg::ThreadPriority, thread.priority, report.text(policyName(policy)));
    }
    if (thread.isMain()) report.print(Msg::MainThreadMark);
    report.print("\n");
}

void writeThreadInfo(RunContext& context, ReportWriter& report) {
    context.console.print(Msg::OutputThreadInfo);
    if (!context.core) return;
    CoreDump& core = *context.core;
    report.print(Msg::ThreadInfoTitle, core.threadCount);
    // The zombie-thread summary of the mmap and zombie check comes here.
    report.print(Msg::CurrentThreadInfo);
    if (core.firstThread) writeBlock(context, report, {core.firstThread});
    if ((context.options.word & opt::kAllThreads) && core.threadCount >= 2) {
        report.print(Msg::OtherThreadInfo);
        try {
            if (context.stacks) writeGroupedThreads(context, report);
            else writeEachThread(context, report);
        } catch (const std::bad_alloc&) {
            report.print("ERROR: fail to get thread info.\n");
        }
    }
    report.print("\n");
}

}  // namespace coresift

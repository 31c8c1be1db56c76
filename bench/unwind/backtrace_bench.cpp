// Unwinds every thread of a synthetic AArch64 core and times gdb-multiarch on the same core.
//
//     bench_backtrace [db folder]   (default: the unpacked arm64-static-recursion test db)
//
// The core is the recursion fixture's with its threads replaced by 200 threads that stand at
// different depths of the crashing thread's 800-frame recursion: each has 30 to 60 frames through
// the program's real tables and debugging information. Prints frames per second without details
// (as grouping unwinds), with details (as the thread blocks print), and gdb's time for
// "thread apply all bt" on the same core and program.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/process/thread_record.h"
#include "analyzer/unwind/backtrace_walk.h"
#include "analyzer/unwind/native_backtrace.h"
#include "analyzer/unwind/run_process.h"
#include "platform/console.h"
#include "tools/corekit/core_reader.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr unsigned kThreads = 200, kNtPrStatus = 1;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// A run context over the db in the working folder, loaded.
struct Loaded {
    Loaded() : context(std::fopen("/dev/null", "w"), std::fopen("/dev/null", "w")) {
        context.catalog.selectEnglish();
        ok = loadCoreDump(context);
    }
    ~Loaded() { teardownProcess(context); }
    coresift::RunContext context;
    bool ok = false;
};

// Registers at every frame of the crashing thread's whole recursion.
std::vector<coresift::unwind::RawFrame> deepFrames() {
    Loaded loaded;
    if (!loaded.ok) return {};
    coresift::RunProcess process(loaded.context);
    return coresift::unwind::walkNativeStack(process, coresift::unwind::threadRegisters(loaded.context.core->firstThread->registers),
                                             {5000});
}

bool writeSyntheticCore(const std::vector<coresift::unwind::RawFrame>& frames) {
    std::string error;
    auto original = corekit::CoreFile::load("PROCESS_COREDUMP", &error);
    if (!original) return std::fprintf(stderr, "%s\n", error.c_str()), false;
    corekit::CoreBuilder builder = original->toBuilder();
    std::vector<corekit::CoreNote> kept;
    for (const corekit::CoreNote& note : builder.notes())
        if (note.type != kNtPrStatus) kept.push_back(note);
    builder.notes() = kept;
    const corekit::PrStatus model = original->threads().front();
    for (unsigned t = 0; t < kThreads; ++t) {
        const std::size_t depth = 30 + t % 31;
        const coresift::unwind::RawFrame& frame = frames[frames.size() - depth];
        corekit::PrStatus status = model;
        status.pid = 5000 + t;
        for (unsigned reg = 0; reg < 33; ++reg) status.regs[reg] = frame.registers.known(reg) ? frame.registers.r[reg] : 0;
        status.regs[33] = 0;
        builder.addPrStatus(status);
    }
    return builder.write("PROCESS_COREDUMP", &error) || (std::fprintf(stderr, "%s\n", error.c_str()), false);
}

void unwindAll(bool withDetails) {
    Loaded loaded;
    if (!loaded.ok) return;
    std::size_t frames = 0, threads = 0;
    auto start = Clock::now();
    loaded.context.core->threads.forEach([&](coresift::ThreadRecord& thread) {
        frames += coresift::nativeBacktrace(loaded.context, thread.registers, withDetails).size();
        ++threads;
        return 0;
    });
    const double took = seconds(start);
    std::printf("  ours %-14s %zu threads, %zu frames in %.3f s: %.0f frames/s\n",
                withDetails ? "with details:" : "for grouping:", threads, frames, took, frames / took);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path db = argc > 1 ? fs::path(argv[1]) : fs::path(FERROVANE_TEST_DATA_DIR) / "arm64-static-recursion/db";
    const fs::path work = fs::temp_directory_path() / "ferrovane-bench-backtrace";
    std::error_code ec;
    fs::remove_all(work, ec);
    fs::copy(db, work, fs::copy_options::recursive, ec);
    if (ec) return std::fprintf(stderr, "cannot copy %s: %s\n", db.string().c_str(), ec.message().c_str()), 1;
    fs::current_path(work);

    const auto frames = deepFrames();
    if (frames.size() < 100) return std::fprintf(stderr, "the db's crashing thread has %zu frames\n", frames.size()), 1;
    if (!writeSyntheticCore(frames)) return 1;
    std::printf("synthetic core: %u threads of 30-60 frames (from a %zu-frame recursion)\n", kThreads, frames.size());

    unwindAll(false);
    unwindAll(true);

    const std::string gdb = FERROVANE_GDB;
    if (gdb.empty()) {
        std::printf("  gdb-multiarch: not installed\n");
        return 0;
    }
    const std::string command = gdb + " -nx -batch -ex 'set print entry-values no' -ex 'set pagination off' "
                                      "-ex 'thread apply all bt' symbols/system/bin/crashfix PROCESS_COREDUMP "
                                      "> gdb-bt.txt 2>/dev/null";
    auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double took = seconds(start);
    std::size_t gdbFrames = 0;
    if (std::FILE* out = std::fopen("gdb-bt.txt", "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, out)) gdbFrames += line[0] == '#';
        std::fclose(out);
    }
    std::printf("  gdb-multiarch 'thread apply all bt': %zu frames in %.3f s: %.0f frames/s (status %d)\n", gdbFrames,
                took, gdbFrames / took, status);
    return 0;
}

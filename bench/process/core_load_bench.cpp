// Loads a synthetic AArch64 coredump of about 1 GiB (2,000 load segments, 200 threads, written as
// a sparse file) and looks up one million random addresses in it. Prints the load time, the
// look-ups per second and the peak resident set size.
//
//     bench_core_load [folder]     (default: a folder under the system's temporary folder)
//
// Loading should cost time in proportion to the segments and notes, not to the bytes, and the
// resident set should stay a small fraction of the core's size.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_loader.h"
#include "analyzer/symbols/elf_image.h"
#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_constants.h"

namespace {

namespace fs = std::filesystem;
namespace ck = corekit::elf;
using Clock = std::chrono::steady_clock;

constexpr unsigned kSegments = 2000;
constexpr unsigned kThreads = 200;
constexpr std::uint64_t kSegmentSize = 132 * 4096;  // 2,000 of them: just over 1 GiB
constexpr std::uint64_t kBase = 0x7000000000;
constexpr std::uint64_t kStride = 0x100000;  // segments with gaps between them
constexpr std::uint64_t kLookups = 1000000;

std::uint64_t segmentStart(unsigned i) { return kBase + i * kStride; }

template <class T>
void put(std::vector<std::uint8_t>& out, T value) {
    std::uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

std::vector<std::uint8_t> notes() {
    constexpr auto arch = corekit::CoreArch::Arm64;
    std::vector<std::uint8_t> all;
    auto add = [&](std::uint32_t type, std::vector<std::uint8_t> desc) {
        auto bytes = corekit::encodeNote(corekit::CoreNote{"CORE", type, std::move(desc)});
        all.insert(all.end(), bytes.begin(), bytes.end());
    };
    std::uint64_t stack = segmentStart(kSegments - 1);
    for (unsigned t = 0; t < kThreads; ++t) {
        corekit::PrStatus status;
        status.pid = 1000 + t;
        status.regs.assign(corekit::registerCount(arch), 0);
        status.regs[31] = stack + 0x1000 + t * 0x100;
        status.regs[32] = segmentStart(t) + 0x40;
        add(ck::NT_PRSTATUS, corekit::encodePrStatus(arch, status));
    }
    corekit::PrPsInfo info;
    info.pid = 1000;
    info.psargs = "/system/bin/bench";
    add(ck::NT_PRPSINFO, corekit::encodePrPsInfo(arch, info));
    add(ck::NT_AUXV, corekit::encodeAuxv(arch, {{ck::AT_PAGESZ, 4096}, {ck::AT_RANDOM, stack + 0x10}}));
    corekit::FileNote files;
    for (unsigned i = 0; i + 1 < kSegments; ++i)
        files.mappings.push_back({segmentStart(i), segmentStart(i) + kSegmentSize, 0,
                                  "/system/lib64/libbench" + std::to_string(i) + ".so"});
    add(ck::NT_FILE, corekit::encodeFileNote(arch, files));
    corekit::SigInfo signal;
    signal.signo = 11;
    add(ck::NT_SIGINFO, corekit::encodeSigInfo(arch, signal));
    return all;
}

// Writes the ELF header, the program headers and the notes; the segments' bytes are a hole.
std::uint64_t writeSparseCore(const fs::path& path) {
    std::vector<std::uint8_t> noteBytes = notes();
    const std::uint64_t headers = 64 + 56 * (kSegments + 1);
    const std::uint64_t dataStart = (headers + noteBytes.size() + 4095) & ~std::uint64_t{4095};
    std::vector<std::uint8_t> out;
    const std::uint8_t ident[16] = {0x7f, 'E', 'L', 'F', 2, 1, 1};
    out.insert(out.end(), ident, ident + 16);
    put<std::uint16_t>(out, ck::ET_CORE);
    put<std::uint16_t>(out, ck::EM_AARCH64);
    put<std::uint32_t>(out, 1);
    put<std::uint64_t>(out, 0);   // entry
    put<std::uint64_t>(out, 64);  // phoff
    put<std::uint64_t>(out, 0);   // shoff
    put<std::uint32_t>(out, 0);
    put<std::uint16_t>(out, 64);
    put<std::uint16_t>(out, 56);
    put<std::uint16_t>(out, static_cast<std::uint16_t>(kSegments + 1));
    put<std::uint16_t>(out, 64);
    put<std::uint16_t>(out, 0);
    put<std::uint16_t>(out, 0);
    auto header = [&](std::uint32_t type, std::uint32_t flags, std::uint64_t offset, std::uint64_t vaddr,
                      std::uint64_t filesz, std::uint64_t memsz) {
        put(out, type);
        put(out, flags);
        put(out, offset);
        put(out, vaddr);
        put<std::uint64_t>(out, 0);
        put(out, filesz);
        put(out, memsz);
        put<std::uint64_t>(out, type == ck::PT_LOAD ? 4096 : 4);
    };
    header(ck::PT_NOTE, 0, headers, 0, noteBytes.size(), 0);
    for (unsigned i = 0; i < kSegments; ++i)
        header(ck::PT_LOAD, ck::PF_R | ck::PF_W, dataStart + i * kSegmentSize, segmentStart(i), kSegmentSize,
               kSegmentSize);
    out.insert(out.end(), noteBytes.begin(), noteBytes.end());
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    }
    std::uint64_t size = dataStart + kSegments * kSegmentSize;
    fs::resize_file(path, size);  // the rest stays a hole
    return size;
}

// A "Name:   N kB" line of /proc/self/status, in MiB.
double statusMiB(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0) return std::stod(line.substr(std::strlen(name) + 1)) / 1024.0;
    }
    return -1;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "ferrovane-bench-process";
    fs::create_directories(folder);
    fs::path path = folder / "PROCESS_COREDUMP";
    std::uint64_t size = writeSparseCore(path);
    std::printf("core: %.2f GiB (sparse), %u load segments, %u threads\n", size / 1073741824.0, kSegments, kThreads);
    double before = statusMiB("VmHWM:");

    std::FILE* sink = std::tmpfile();
    coresift::RunContext context(sink, sink);
    auto start = Clock::now();
    auto file = coresift::MappedFile::open(path.string());
    bool loaded = file && coresift::loadCoreFile(context, std::move(file));
    double loadMs = msSince(start);
    if (!loaded) {
        std::fprintf(stderr, "the core did not load\n");
        return 1;
    }
    double afterLoad = statusMiB("VmHWM:");
    std::printf("load: %.1f ms (%zu regions, %u threads); peak RSS %.1f MiB before, %.1f MiB after loading\n", loadMs,
                context.addressSpace->regionCount(), context.core->threadCount, before, afterLoad);

    coresift::AddressSpace& space = *context.addressSpace;
    std::mt19937_64 random(42);
    std::uniform_int_distribution<std::uint64_t> address(kBase, segmentStart(kSegments));
    std::vector<std::uint64_t> addresses(kLookups);
    for (auto& a : addresses) a = address(random);

    std::uint64_t found = 0;
    start = Clock::now();
    for (std::uint64_t a : addresses)
        if (space.findRegion(a)) ++found;
    double findMs = msSince(start);
    std::printf("findRegion: %llu random addresses in %.1f ms: %.1f million per second (%llu inside a region)\n",
                static_cast<unsigned long long>(kLookups), findMs, kLookups / findMs / 1000.0,
                static_cast<unsigned long long>(found));

    std::uint64_t read = 0, sum = 0;
    start = Clock::now();
    for (std::uint64_t a : addresses) {
        std::uint64_t word;
        if (space.readMemory(a & ~std::uint64_t{7}, &word, sizeof word)) {
            ++read;
            sum += word;
        }
    }
    double readMs = msSince(start);
    std::printf("readMemory: %llu random 8-byte reads in %.1f ms: %.1f million per second (%llu read%s), "
                "first touches of the dump's pages included\n",
                static_cast<unsigned long long>(kLookups), readMs, kLookups / readMs / 1000.0,
                static_cast<unsigned long long>(read), sum ? ", non-zero bytes" : "");
    start = Clock::now();
    for (std::uint64_t a : addresses) {
        std::uint64_t word;
        space.readMemory(a & ~std::uint64_t{7}, &word, sizeof word);
    }
    readMs = msSince(start);
    std::printf("readMemory again (pages resident): %.1f ms: %.1f million per second\n", readMs,
                kLookups / readMs / 1000.0);
    std::printf("peak RSS after the reads: %.1f MiB (now: anonymous %.1f MiB, file pages of the dump %.1f MiB)\n",
                statusMiB("VmHWM:"), statusMiB("RssAnon:"), statusMiB("RssFile:"));

    coresift::teardownProcess(context);
    std::fclose(sink);
    fs::remove(path);
    return 0;
}

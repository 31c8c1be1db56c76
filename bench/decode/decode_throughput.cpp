// Decode-and-print throughput: every instruction of a large .text decoded and printed to text by
// this project's decoder, and disassembled by capstone (with and without operand details) on the
// same bytes in the same run. Prints instructions per second for each.
//
//   decode_throughput32 [ELF] [rounds]     (A32 and T32 code of the file)
//   decode_throughput64 [ELF] [rounds]     (A64)
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analyzer/decode/printer.h"
#include "tools/decode/capstone_meaning.h"
#include "tools/decode/code_ranges.h"

using namespace coresift::decode;

namespace {

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Decodes and prints every instruction of the ranges; returns the instructions handled.
std::uint64_t ours(const std::vector<decodetools::CodeRange>& ranges, std::uint64_t& checksum) {
    std::uint64_t count = 0;
    TextSink out;
    for (const decodetools::CodeRange& r : ranges) {
        const InstructionSet set = r.isa == decodetools::Isa::Arm ? InstructionSet::Arm
                                   : r.isa == decodetools::Isa::Thumb ? InstructionSet::Thumb : InstructionSet::A64;
        const std::uint8_t* p = r.bytes.data();
        std::size_t offset = 0;
        while (offset + 4 <= r.bytes.size()) {
            std::uint32_t word;
            std::memcpy(&word, p + offset, 4);
            offset += printInstruction(set, word, static_cast<TargetWord>(r.address + offset), out);
            checksum += out.view().size();
            ++count;
        }
    }
    return count;
}

std::uint64_t theirs(decodetools::CapstoneOracle& oracle, const std::vector<decodetools::CodeRange>& ranges, bool details) {
    std::uint64_t count = 0;
    for (const decodetools::CodeRange& r : ranges)
        count += oracle.disassembleAll(r.isa, r.bytes.data(), r.bytes.size(), r.address, details);
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string shared = FERROVANE_SHARED_DIR;
    std::string path = argc > 1 ? argv[1]
                       : kIs64 ? shared + "/fixtures/unwindstack-offline/cases/shared_lib_in_apk_arm64/libc.so.gz"
                               : shared + "/fixtures/simpleperf-testdata/simpleperf/testdata/libc.so";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    decodetools::ElfFile elf(decodetools::readFileBytes(path));
    if (!elf.ok()) {
        std::fprintf(stderr, "%s: not a readable ELF file\n", path.c_str());
        return 1;
    }
    std::vector<decodetools::CodeRange> ranges;
    for (const decodetools::CodeRange& r : decodetools::codeRanges(elf))
        if ((r.isa == decodetools::Isa::A64) == kIs64) ranges.push_back(r);
    decodetools::CapstoneOracle oracle;

    std::uint64_t checksum = 0, ourCount = 0, theirCount = 0, theirDetailCount = 0;
    double ourTime = 0, theirTime = 0, theirDetailTime = 0;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        ourCount += ours(ranges, checksum);
        auto t1 = std::chrono::steady_clock::now();
        theirCount += theirs(oracle, ranges, false);
        auto t2 = std::chrono::steady_clock::now();
        theirDetailCount += theirs(oracle, ranges, true);
        auto t3 = std::chrono::steady_clock::now();
        ourTime += seconds(t1 - t0);
        theirTime += seconds(t2 - t1);
        theirDetailTime += seconds(t3 - t2);
    }
    std::printf("%s, %d rounds (text checksum %" PRIu64 ")\n", path.c_str(), rounds, checksum);
    std::printf("decode+print (this decoder):         %12.0f instructions/s (%" PRIu64 " instructions)\n",
                static_cast<double>(ourCount) / ourTime, ourCount);
    std::printf("capstone cs_disasm_iter, no details: %12.0f instructions/s (%" PRIu64 " instructions)\n",
                static_cast<double>(theirCount) / theirTime, theirCount);
    std::printf("capstone cs_disasm_iter, details:    %12.0f instructions/s (%" PRIu64 " instructions)\n",
                static_cast<double>(theirDetailCount) / theirDetailTime, theirDetailCount);
    std::printf("speed-up over capstone: %.1fx (no details), %.1fx (details)\n",
                (static_cast<double>(ourCount) / ourTime) / (static_cast<double>(theirCount) / theirTime),
                (static_cast<double>(ourCount) / ourTime) / (static_cast<double>(theirDetailCount) / theirDetailTime));
    return 0;
}

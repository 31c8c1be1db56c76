// Writes small valid coredumps of both widths into a folder: the seed corpus of the loader's
// fuzz target (real cores are too large to mutate quickly).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/corekit/core_builder.h"
#include "tools/corekit/elf_constants.h"

namespace ck = corekit::elf;

namespace {

corekit::CoreBuilder seed(corekit::CoreArch arch, unsigned threads, bool withFiles) {
    corekit::CoreBuilder core(arch);
    core.setFileAlignment(16);
    core.addSegment(0x10000, 0x2000, ck::PF_R | ck::PF_X);
    std::vector<std::uint8_t> stack(0x1000, 0);
    std::string path = "/system/bin/app";
    std::copy(path.begin(), path.end(), stack.begin() + 0xf00);
    core.addSegment(0x20000, stack, ck::PF_R | ck::PF_W);
    core.addSegment(0x30000, std::vector<std::uint8_t>(0x1000, 0x41), ck::PF_R);
    for (unsigned t = 0; t < threads; ++t) {
        corekit::PrStatus s;
        s.pid = 100 + t;
        s.cursig = 11;
        s.regs.assign(corekit::registerCount(arch), 0x20800);
        core.addPrStatus(s);
        core.addArmTls(0x20100);
    }
    corekit::PrPsInfo info;
    info.pid = withFiles ? 100 : 0;
    info.psargs = "app --flag ";
    core.addPrPsInfo(info);
    core.addAuxv({{ck::AT_PAGESZ, 4096}, {ck::AT_BASE, 0x10000}, {ck::AT_RANDOM, 0x20010}, {ck::AT_EXECFN, 0x20f00}});
    if (withFiles) {
        corekit::FileNote files;
        files.mappings = {{0x10000, 0x12000, 0, "/system/bin/app"}, {0x30000, 0x31000, 0, "/dev/ashmem"}};
        core.addFileNote(files);
        corekit::SigInfo signal;
        signal.signo = 11;
        signal.code = 1;
        signal.addr = 0x30008;
        core.addSigInfo(signal);
        core.addNote(0x409, "LINUX", std::vector<std::uint8_t>(8, 1));
    }
    return core;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    int n = 0;
    for (auto arch : {corekit::CoreArch::Arm32, corekit::CoreArch::Arm64}) {
        for (unsigned threads : {1u, 3u}) {
            for (bool files : {false, true}) {
                std::string name = std::string(argv[1]) + "/seed" + std::to_string(n++);
                if (!seed(arch, threads, files).write(name)) return 1;
            }
        }
    }
    return 0;
}

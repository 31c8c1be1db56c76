// offline-to-db: turns one of Android's offline unwind cases into an exception db.
#include <cstdio>
#include <string>

#include "tools/fixturekit/offline_case.h"

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: offline-to-db [--rw-without-bytes] [--force] [--verbose] CASE_DIR OUT_DIR\n"
                 "Turns an offline unwind case (maps.txt, regs.txt, *.data, the mapped files) of a 32-bit ARM or\n"
                 "AArch64 thread into an exception db in OUT_DIR: PROCESS_COREDUMP, PROCESS_MAPS and symbols/.\n"
                 "  --rw-without-bytes  libraries' writable segments read-only and without bytes\n"
                 "  --force             convert a case listed as unsupported below anyway\n"
                 "  --verbose           print the choices made (load biases, AT_BASE, Thumb state)\n\n%s",
                 fixturekit::offlineConversionNotes().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    fixturekit::ConversionOptions options;
    bool verbose = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if (arg == "--rw-without-bytes") options.rwWithoutBytes = true;
        else if (arg == "--force") options.force = true;
        else if (arg == "--verbose") verbose = true;
        else if (!arg.empty() && arg[0] == '-') {
            usage(stderr);
            return 2;
        } else paths.push_back(arg);
    }
    if (paths.size() != 2) {
        usage(stderr);
        return 2;
    }
    std::string error;
    fixturekit::OfflineCase offlineCase;
    fixturekit::OfflineDb db;
    if (!fixturekit::readOfflineCase(paths[0], offlineCase, error) ||
        !fixturekit::convertOfflineCase(offlineCase, options, db, error) ||
        !fixturekit::writeOfflineDb(db, paths[1], error)) {
        std::fprintf(stderr, "offline-to-db: %s\n", error.c_str());
        return 1;
    }
    if (verbose)
        for (const auto& line : db.log) std::printf("%s\n", line.c_str());
    return 0;
}

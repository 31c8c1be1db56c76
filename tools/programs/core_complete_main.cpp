// core-complete: turns a qemu-user guest core into a device-style core (see core_completion.h).
//
//   core-complete --core QEMU_CORE --maps MAPS --root RUN_ROOT [--prefix FROM=TO]...
//                 [--siginfo RAW_SIGINFO] --out CORE [--maps-out DEVICE_MAPS] [--verbose]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/fixturekit/core_completion.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: core-complete --core QEMU_CORE --maps MAPS --root RUN_ROOT [--prefix FROM=TO]...\n"
                 "                     [--siginfo RAW_SIGINFO] --out CORE [--maps-out DEVICE_MAPS] [--verbose]\n"
                 "Writes CORE: the guest core with the code pages of the files under RUN_ROOT, NT_SIGINFO from\n"
                 "RAW_SIGINFO and NT_FILE from MAPS, all paths turned into device paths (RUN_ROOT removed,\n"
                 "each FROM prefix replaced by TO). DEVICE_MAPS receives MAPS with the device paths.\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string corePath, mapsPath, outPath, mapsOut, sigInfoPath;
    fixturekit::CompletionInput input;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--core") corePath = value();
        else if (arg == "--maps") mapsPath = value();
        else if (arg == "--root") input.runRoot = value();
        else if (arg == "--siginfo") sigInfoPath = value();
        else if (arg == "--out") outPath = value();
        else if (arg == "--maps-out") mapsOut = value();
        else if (arg == "--verbose") verbose = true;
        else if (arg == "--prefix") {
            std::string pair = value();
            auto eq = pair.find('=');
            if (eq == std::string::npos) {
                usage();
                return 2;
            }
            input.prefixMap.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (corePath.empty() || mapsPath.empty() || outPath.empty() || input.runRoot.empty()) {
        usage();
        return 2;
    }
    while (input.runRoot.size() > 1 && input.runRoot.back() == '/') input.runRoot.pop_back();

    std::string error;
    auto core = corekit::CoreFile::load(corePath, &error);
    if (!core) {
        std::fprintf(stderr, "core-complete: %s: %s\n", corePath.c_str(), error.c_str());
        return 1;
    }
    input.core = std::move(*core);
    bool ok = false;
    const std::string mapsText = fixturekit::readTextFile(mapsPath, &ok);
    if (!ok) {
        std::fprintf(stderr, "core-complete: cannot read %s\n", mapsPath.c_str());
        return 1;
    }
    input.maps = fixturekit::parseMaps(mapsText);
    if (!sigInfoPath.empty()) {
        auto raw = fixturekit::readBinaryFile(sigInfoPath);
        if (!raw) {
            std::fprintf(stderr, "core-complete: cannot read %s\n", sigInfoPath.c_str());
            return 1;
        }
        input.sigInfo = std::move(*raw);
    }

    fixturekit::CompletionResult result;
    if (!fixturekit::completeCore(input, result, error)) {
        std::fprintf(stderr, "core-complete: %s\n", error.c_str());
        return 1;
    }
    if (!result.core.write(outPath, &error)) {
        std::fprintf(stderr, "core-complete: %s\n", error.c_str());
        return 1;
    }
    if (!mapsOut.empty()) {
        std::string text;
        for (const auto& e : result.deviceMaps) text += fixturekit::formatMapsLine(e, input.core.arch() == corekit::CoreArch::Arm64);
        if (!fixturekit::writeTextFile(mapsOut, text)) {
            std::fprintf(stderr, "core-complete: cannot write %s\n", mapsOut.c_str());
            return 1;
        }
    }
    if (verbose)
        for (const auto& line : result.notes) std::printf("%s\n", line.c_str());
    return 0;
}

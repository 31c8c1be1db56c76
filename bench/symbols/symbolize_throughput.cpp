// Symbolization throughput: every function start and a million random code addresses of a large
// library, each turned into "name+offset file:line" (and, in a second round, with its inline
// chain) by this project's look-ups, and by llvm-symbolizer (one process, addresses on standard
// input) on the same addresses in the same run. Prints addresses per second for each.
//
//   symbolize_throughput32 [LIBRARY] [RANDOM]   default: the largest ARM library of the fixtures
//   symbolize_throughput64 [LIBRARY] [RANDOM]   default: the largest AArch64 library (with DWARF)
// A ".gz" library is unpacked into a temporary file first.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/demangle.h"
#include "analyzer/symbols/symbol_lookup.h"

using namespace coresift;
namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

fs::path unpacked(const fs::path& path) {
    if (path.extension() != ".gz") return path;
    fs::path out = fs::temp_directory_path() / ("ferrovane-bench-" + path.parent_path().filename().string() + "-" + path.stem().string());
    std::string command = "gzip -dc '" + path.string() + "' > '" + out.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    return out;
}

struct Result {
    double seconds = 0;
    std::uint64_t named = 0, lines = 0, frames = 0, bytes = 0;
};

// Opens the library (indexes are built on first use, inside the timing) and symbolizes.
Result ours(RunContext& context, const fs::path& path, const std::vector<TargetWord>& addresses, bool inlines) {
    Result r;
    auto start = std::chrono::steady_clock::now();
    auto image = ElfImage::open(context.console, MappedFile::open(path.string()), elf::kSymbolFileTypes);
    if (!image) return r;
    SymbolSource source(context.console, path.filename().string(), 0);
    source.setSymbolFile(std::make_unique<SymbolFile>(context.console, std::move(image)), true);
    std::string out;
    for (TargetWord a : addresses) {
        out.clear();
        if (auto hit = symbolAt(source, a, lookup::kFunctionMask)) {
            out += source.shownName(hit->name);
            out += "+" + std::to_string(a - hit->start);
            ++r.named;
        }
        if (auto line = lineAt(source, a)) {
            out += " " + line->path() + ":" + std::to_string(line->line);
            ++r.lines;
        }
        if (inlines) {
            forEachInlineScope(source, a, [&](const InlineScope& scope) {
                out += source.shownName(scope.name);
                ++r.frames;
                return 0;
            });
        }
        r.bytes += out.size();
    }
    r.seconds = seconds(std::chrono::steady_clock::now() - start);
    return r;
}

double theirs(const fs::path& path, const fs::path& input, bool inlines) {
    std::string command = std::string(FERROVANE_LLVM_SYMBOLIZER) + (inlines ? " --inlining" : " --no-inlines") +
                          " --obj='" + path.string() + "' < '" + input.string() + "' > /dev/null";
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    return seconds(std::chrono::steady_clock::now() - start);
}

void report(const char* who, std::size_t count, double s, const std::string& what) {
    std::printf("  %-16s %9zu addresses in %7.3f s = %10.0f addresses/s  (%s)\n", who, count, s, count / s, what.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string shared = std::string(FERROVANE_SHARED_DIR) + "/fixtures/unwindstack-offline/cases/";
    fs::path library = argc > 1 ? fs::path(argv[1])
                                : fs::path(shared + (kIs64 ? "load_bias_different_section_bias_arm64/test.gz"
                                                           : "jit_debug_arm/libart.so.gz"));
    const std::size_t randomCount = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
    fs::path path = unpacked(library);
    RunContext context(stdout, stderr);
    context.catalog.selectEnglish();
    auto image = path.empty() ? nullptr : ElfImage::open(context.console, MappedFile::open(path.string()), elf::kSymbolFileTypes);
    if (!image) {
        std::fprintf(stderr, "cannot open %s\n", library.string().c_str());
        return 1;
    }

    // Every function start, then random addresses over the executable sections.
    std::vector<TargetWord> addresses;
    image->symbolTable().forEach([&addresses](const Symbol& s) {
        if (s.type() == 2 && s.shndx != 0 && s.size != 0) addresses.push_back(static_cast<TargetWord>(s.value & ~std::uint64_t{1}));
        return 0;
    });
    const std::size_t starts = addresses.size();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> code;
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < image->sectionCount(); ++i) {
        auto s = image->section(i);
        if (s && s->type == elf::kShtProgbits && (s->flags & 4) && s->size) code.emplace_back(s->addr, s->size), total += s->size;
    }
    std::mt19937_64 random(42);
    for (std::size_t i = 0; i < randomCount && total; ++i) {
        std::uint64_t r = random() % total;
        for (const auto& [start, size] : code) {
            if (r < size) {
                addresses.push_back(static_cast<TargetWord>(start + r));
                break;
            }
            r -= size;
        }
    }
    fs::path input = fs::temp_directory_path() / "ferrovane-bench-addresses.txt";
    {
        std::FILE* f = std::fopen(input.string().c_str(), "w");
        for (TargetWord a : addresses) std::fprintf(f, "0x%llx\n", static_cast<unsigned long long>(a));
        std::fclose(f);
    }
    std::printf("%s: %llu bytes, %zu function starts + %zu random addresses\n", library.filename().string().c_str(),
                static_cast<unsigned long long>(fs::file_size(path)), starts, addresses.size() - starts);
    for (bool inlines : {false, true}) {
        Result r = ours(context, path, addresses, inlines);
        report("CoreSift look-up", addresses.size(), r.seconds,
               std::string(inlines ? "symbol, line, inline chain" : "symbol, line") + ": " + std::to_string(r.named) +
                   " named, " + std::to_string(r.lines) + " with a line" +
                   (inlines ? ", " + std::to_string(r.frames) + " inline frames" : ""));
        if (std::string(FERROVANE_LLVM_SYMBOLIZER).empty()) continue;
        double s = theirs(path, input, inlines);
        if (s > 0) report("llvm-symbolizer", addresses.size(), s, inlines ? "--inlining" : "--no-inlines");
    }
    fs::remove(input);
    if (path != library) fs::remove(path);
    return 0;
}

#include "tests/symbols/symbol_oracles.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/elf_image.h"
#include "tests/support/temp_folder.h"
#include "tests/symbols/elf_fixtures.h"
#include "tests/symbols/readelf_oracle.h"
#include "tests/symbols/symbol_test_support.h"

#ifndef FERROVANE_LLVM_SYMBOLIZER
#define FERROVANE_LLVM_SYMBOLIZER ""
#define FERROVANE_CXXFILT ""
#define FERROVANE_OBJDUMP ""
#define FERROVANE_ADDR2LINE ""
#define FERROVANE_LLVM_OBJDUMP ""
#endif

namespace testsupport {
namespace fs = std::filesystem;

bool symbolOraclesAvailable() { return !readelfProgram().empty() && !llvmSymbolizerProgram().empty(); }
std::string llvmSymbolizerProgram() { return FERROVANE_LLVM_SYMBOLIZER; }
std::string cxxfiltProgram() { return FERROVANE_CXXFILT; }
std::string objdumpProgram() { return FERROVANE_OBJDUMP; }
std::string addr2lineProgram() { return FERROVANE_ADDR2LINE; }
std::string llvmObjdumpProgram() { return FERROVANE_LLVM_OBJDUMP; }

std::vector<std::string> runWithInput(const std::string& command, const std::vector<std::string>& input) {
    static int serial = 0;
    fs::path file = scratchFolder() / ("oracle-input-" + std::to_string(serial++) + ".txt");
    {
        std::ofstream out(file);
        for (const std::string& line : input) out << line << '\n';
    }
    std::string text = runCommand(command + " < " + shellQuote(file.string())).value_or("");
    fs::remove(file);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<TableSymbol> readelfSymtab(const fs::path& file) {
    static const std::map<std::string, unsigned> kTypes = {{"NOTYPE", 0}, {"OBJECT", 1}, {"FUNC", 2},   {"SECTION", 3},
                                                           {"FILE", 4},   {"COMMON", 5}, {"TLS", 6},    {"IFUNC", 10}};
    std::string text = runCommand(readelfProgram() + " -sW " + shellQuote(file.string())).value_or("");
    std::vector<TableSymbol> out;
    bool inSymtab = false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("Symbol table ")) {
            inSymtab = line.find("'.symtab'") != std::string::npos;
            continue;
        }
        if (!inSymtab) continue;
        std::istringstream fields(line);
        std::string num, value, size, type, bind, visibility, ndx, name;
        if (!(fields >> num >> value >> size >> type >> bind >> visibility >> ndx) || num.back() != ':' ||
            num.find_first_not_of("0123456789:") != std::string::npos)
            continue;
        std::getline(fields, name);
        name.erase(0, name.find_first_not_of(' '));  // .symtab names are shown as they are, '@' included
        TableSymbol s;
        s.index = static_cast<std::uint32_t>(std::stoul(num));
        s.value = std::stoull(value, nullptr, 16);
        s.size = size.starts_with("0x") ? std::stoull(size, nullptr, 16) : std::stoull(size);
        auto t = kTypes.find(type);
        s.type = t == kTypes.end() ? 99 : t->second;
        s.local = bind == "LOCAL";
        s.defined = ndx != "UND";
        s.name = name;
        out.push_back(s);
    }
    return out;
}

std::uint32_t readelfSymtabInfo(const fs::path& file) {
    std::string text = runCommand(readelfProgram() + " -SW " + shellQuote(file.string())).value_or("");
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.find(" .symtab ") == std::string::npos) continue;
        // ... Address Off Size ES [Flg] Lk Inf Al: Inf is the second field from the end.
        std::vector<std::string> fields;
        std::istringstream words(line);
        for (std::string w; words >> w;) fields.push_back(w);
        if (fields.size() >= 3) return static_cast<std::uint32_t>(std::stoul(fields[fields.size() - 2]));
    }
    return 0;
}

const std::vector<OracleFile>& symbolOracleFiles() {
    static std::vector<OracleFile> files = [] {
        std::vector<OracleFile> out;
        // Symbol files are executables and shared objects (e_type 2 or 3), not cores.
        auto usable = [](const fs::path& path) {
            std::ifstream in(path, std::ios::binary);
            unsigned char head[18] = {};
            return in.read(reinterpret_cast<char*>(head), sizeof head) && (head[16] == 2 || head[16] == 3) && head[17] == 0;
        };
        for (const FixtureFile& f : wellFormedElfFiles(coresift::kTargetElfClass)) {
            if (f.set == "bionic-prebuilt-elf" || f.set == "own cross-compiled") continue;
            if (usable(f.path)) out.push_back({f.set, f.label, f.path});
        }
        for (const fs::path& folder : ownSymbolFixtureFolders()) {
            std::vector<fs::path> libs;
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().extension() == ".so") libs.push_back(entry.path());
            std::sort(libs.begin(), libs.end());
            for (const fs::path& lib : libs)
                out.push_back({"symbol fixtures", folder.filename().string() + "/" + lib.filename().string(), lib});
        }
        return out;
    }();
    return files;
}

std::vector<std::uint64_t> randomCodeAddresses(const fs::path& path, std::size_t count) {
    coresift::RunContext context(stdout, stderr);
    auto image = coresift::ElfImage::open(context.console, coresift::MappedFile::open(path.string()),
                                          coresift::elf::kSymbolFileTypes);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> code;
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; image && i < image->sectionCount(); ++i) {
        auto s = image->section(i);
        if (s && s->type == coresift::elf::kShtProgbits && (s->flags & 4) && s->size > 0) {
            code.emplace_back(s->addr, s->size);
            total += s->size;
        }
    }
    std::vector<std::uint64_t> out;
    if (total == 0) return out;
    std::mt19937_64 random(1234);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t r = random() % total;
        for (const auto& [start, size] : code) {
            if (r < size) {
                out.push_back(start + r);
                break;
            }
            r -= size;
        }
    }
    return out;
}

void Agreement::check(const std::string& set, const std::string& kind, bool agrees, const std::string& what) {
    auto& [agreed, compared] = counts_[set][kind];
    ++compared;
    if (agrees) {
        ++agreed;
        return;
    }
    ++disagreements_;
    if (examples_.size() < 30) examples_.push_back(set + " " + kind + ": " + what);
}

void Agreement::explain(const std::string& set, const std::string& kind, const std::string& why) {
    ++explained_[set][kind + " (" + why + ")"];
}

std::string Agreement::summary() const {
    std::ostringstream out;
    for (const auto& [set, kinds] : counts_) {
        out << set << ":";
        for (const auto& [kind, c] : kinds) out << " " << kind << " " << c.first << "/" << c.second << ";";
        if (auto e = explained_.find(set); e != explained_.end())
            for (const auto& [why, n] : e->second) out << " explained: " << why << " " << n << ";";
        out << "\n";
    }
    return out.str();
}

}  // namespace testsupport

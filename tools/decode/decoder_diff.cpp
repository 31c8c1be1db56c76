// Differential check of the instruction decoder against capstone: real code from ELF files, the
// hand-curated capstone MC encodings and random words, compared on meaning (meaning.h). Built as
// decoder-diff32 (A32, T32) and decoder-diff64 (A64).
//
//   decoder-diff32 [--elf FILE]... [--mc DIR] [--random N] [--seed S] [--examples K]
//                  [--dump] [--strict]
// Ends with one line per instruction set: "A32: N/M agree".  --strict exits 1 when real code
// (ELF files) disagrees anywhere.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/target_word.h"
#include "tools/decode/capstone_meaning.h"
#include "tools/decode/code_ranges.h"
#include "tools/decode/our_meaning.h"

using namespace decodetools;

namespace {

const char* isaName(Isa isa) { return isa == Isa::Arm ? "A32" : isa == Isa::Thumb ? "T32" : "A64"; }

struct Category {
    std::uint64_t count = 0;
    std::vector<std::string> examples;
};

struct Tally {
    std::uint64_t total = 0, agree = 0, unmodelled = 0, secondOracle = 0;
    std::map<std::string, Category> differences;
};

struct Options {
    std::vector<std::string> elves;
    std::string mcDirectory;
    std::uint64_t random = 0;
    std::uint64_t seed = 1;
    unsigned examples = 3;
    bool dump = false;
    bool strict = false;
};

class Differ {
public:
    explicit Differ(const Options& o) : options_(o) {}

    // Compares one instruction; returns its length in bytes as our decoder reads it.
    unsigned compare(Tally& tally, Isa isa, const std::uint8_t* bytes, std::size_t available, std::uint64_t address,
                     coresift::decode::ItBlock* block = nullptr) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes, available >= 4 ? 4 : available);
        const Meaning ours = ourMeaning(isa, word, address, block);
        const Meaning oracle = oracle_.decode(isa, bytes, available, address);
        // Words taken one by one must not leave capstone inside an IT block.
        if (!block && oracle.cls == "system:it") oracle_.resetThumb();
        ++tally.total;
        std::string key;
        if (ours.status == Status::Unmodelled && oracle.status == Status::Defined) {
            ++tally.agree;
            ++tally.unmodelled;
        } else if (ours.status == Status::Unmodelled && askAboutUnmodelled_) {
            pending_.push_back({&tally, isa, word, ours.length, "unmodelled", ours.text, address});
            return ours.length;
        } else if (ours.status == Status::Unmodelled) {
            key = "unmodelled group, oracle undefined";
        } else {
            const std::vector<std::string> fields = differences(ours, oracle);
            if (fields.empty()) {
                ++tally.agree;
            } else if (ours.status == Status::Defined && oracle.status == Status::Undefined) {
                // Encodings capstone 4 does not know (ARMv8.1 and later): asked of llvm-mc at the end.
                pending_.push_back({&tally, isa, word, ours.length, ours.cls, ours.text, address});
                return ours.length;
            } else {
                key = (ours.status == Status::Defined ? ours.cls : std::string("undefined")) + ":";
                for (std::size_t i = 0; i < fields.size(); ++i) key += (i ? "+" : "") + fields[i];
            }
        }
        if (!key.empty()) {
            Category& c = tally.differences[key];
            ++c.count;
            if (c.examples.size() < options_.examples) c.examples.push_back(example(isa, word, ours, oracle, address));
        }
        if (options_.dump && !key.empty())
            std::printf("%s %08" PRIX64 " %08X  ours: %-36s | cs: %-36s | %s\n", isaName(isa), address, word,
                        ours.text.c_str(), oracle.text.c_str(), key.c_str());
        return ours.length;
    }

    static std::string example(Isa isa, std::uint32_t word, const Meaning& ours, const Meaning& oracle, std::uint64_t address) {
        char buffer[600];
        const unsigned digits = (isa == Isa::Thumb && ours.length == 2) ? 4 : 8;
        std::snprintf(buffer, sizeof buffer, "%0*X @%" PRIX64 ": ours \"%s\" {%s} / capstone \"%s\" {%s}", digits,
                      digits == 4 ? word & 0xFFFF : word, address, ours.text.c_str(), describe(ours).c_str(),
                      oracle.text.c_str(), describe(oracle).c_str());
        return buffer;
    }

    void elf(const std::string& path, std::map<Isa, Tally>& totals) {
        ElfFile file(readFileBytes(path));
        if (!file.ok()) {
            std::printf("%s: not a readable ELF file, skipped\n", path.c_str());
            return;
        }
        std::map<Isa, Tally> local;
        for (const CodeRange& range : codeRanges(file)) {
            if ((range.isa == Isa::A64) != kIs64) continue;
            const std::uint8_t* p = range.bytes.data();
            std::size_t offset = 0;
            coresift::decode::ItBlock block;
            oracle_.resetThumb();
            while (offset + 2 <= range.bytes.size()) {
                const std::size_t left = range.bytes.size() - offset;
                if (range.isa != Isa::Thumb && left < 4) break;
                const unsigned length = compare(local[range.isa], range.isa, p + offset, left, range.address + offset, &block);
                offset += length ? length : 2;
            }
        }
        askSecondOracle();
        for (auto& [isa, tally] : local) {
            report(std::string(path.substr(path.find_last_of('/') + 1)) + " " + isaName(isa), tally);
            merge(totals[isa], tally);
            realDisagreements_ += tally.total - tally.agree;
        }
    }

    void randomWords(Isa isa, std::map<Isa, Tally>& totals) {
        askAboutUnmodelled(false);
        std::mt19937_64 generator(options_.seed + static_cast<unsigned>(isa));
        Tally tally;
        for (std::uint64_t i = 0; i < options_.random; ++i) {
            std::uint32_t word = static_cast<std::uint32_t>(generator());
            std::uint8_t bytes[4];
            std::memcpy(bytes, &word, 4);
            compare(tally, isa, bytes, 4, 0x10000);
        }
        askSecondOracle();
        report(std::string("random ") + isaName(isa), tally);
        merge(totals[isa], tally);
    }

    void mc(const std::string& directory, std::map<Isa, Tally>& totals) {
        std::map<Isa, Tally> local;
        for (const char* sub : {"ARM", "AArch64"}) {
            const std::string folder = directory + "/" + sub;
            DIR* dir = opendir(folder.c_str());
            if (!dir) continue;
            std::vector<std::string> names;
            while (dirent* e = readdir(dir))
                if (std::strstr(e->d_name, ".cs")) names.push_back(e->d_name);
            closedir(dir);
            for (const std::string& name : names) mcFile(folder + "/" + name, local);
        }
        askSecondOracle();
        for (auto& [isa, tally] : local) {
            report(std::string("capstone-mc ") + isaName(isa), tally);
            merge(totals[isa], tally);
        }
    }

    void mcFile(const std::string& path, std::map<Isa, Tally>& local) {
        std::ifstream in(path);
        std::string line;
        std::optional<Isa> isa;
        while (std::getline(in, line)) {
            if (line.rfind("# CS_ARCH", 0) == 0) {
                if (line.find("MCLASS") != std::string::npos || line.find("BIG_ENDIAN") != std::string::npos) return;
                if (line.find("AARCH64") != std::string::npos) isa = Isa::A64;
                else if (line.find("THUMB") != std::string::npos) isa = Isa::Thumb;
                else isa = Isa::Arm;
                continue;
            }
            if (!isa || (*isa == Isa::A64) != kIs64 || line.rfind("0x", 0) != 0) continue;
            const std::size_t eq = line.find('=');
            std::vector<std::uint8_t> bytes;
            std::stringstream list(line.substr(0, eq));
            std::string item;
            while (std::getline(list, item, ',')) bytes.push_back(static_cast<std::uint8_t>(std::strtoul(item.c_str(), nullptr, 16)));
            const std::size_t count = bytes.size();
            if (count != 2 && count != 4) continue;
            bytes.resize(4, 0);
            compare(local[*isa], *isa, bytes.data(), count, 0);
        }
    }

    static void merge(Tally& into, const Tally& from) {
        into.total += from.total;
        into.agree += from.agree;
        into.unmodelled += from.unmodelled;
        into.secondOracle += from.secondOracle;
        for (const auto& [key, c] : from.differences) {
            Category& d = into.differences[key];
            d.count += c.count;
            for (const std::string& e : c.examples)
                if (d.examples.size() < 3) d.examples.push_back(e);
        }
    }

    void report(const std::string& title, const Tally& t) {
        std::printf("%s: %" PRIu64 "/%" PRIu64 " agree (%.3f%%; %" PRIu64 " unmodelled by design, %" PRIu64
                    " confirmed by llvm-mc)\n", title.c_str(), t.agree, t.total,
                    t.total ? 100.0 * static_cast<double>(t.agree) / static_cast<double>(t.total) : 100.0, t.unmodelled,
                    t.secondOracle);
        std::vector<std::pair<std::uint64_t, std::string>> order;
        for (const auto& [key, c] : t.differences) order.emplace_back(c.count, key);
        std::sort(order.rbegin(), order.rend());
        for (const auto& [count, key] : order) {
            std::printf("    %8" PRIu64 "  %s\n", count, key.c_str());
            for (const std::string& e : t.differences.at(key).examples) std::printf("              e.g. %s\n", e.c_str());
        }
    }

    std::uint64_t realDisagreements() const { return realDisagreements_; }

    // Words capstone called undefined and this decoder decoded are given to llvm-mc: when it
    // decodes them to the same class they agree, otherwise they count as differences.
    void askSecondOracle() {
        for (Isa isa : {Isa::Arm, Isa::Thumb, Isa::A64}) {
            std::vector<Pending*> batch;
            for (Pending& p : pending_)
                if (p.isa == isa) batch.push_back(&p);
            if (batch.empty()) continue;
            const std::vector<std::string> mnemonics = llvmMnemonics(isa, batch);
            for (std::size_t i = 0; i < batch.size(); ++i) {
                Pending& p = *batch[i];
                const std::string llvm = i < mnemonics.size() ? mnemonics[i] : std::string();
                const std::string cls = llvm.empty() ? std::string("undefined") : mnemonicClass(llvm, isa == Isa::A64);
                if (p.cls == "unmodelled") {  // known but not modelled: llvm-mc says whether it exists
                    if (!llvm.empty()) {
                        ++p.tally->agree;
                        ++p.tally->unmodelled;
                        ++p.tally->secondOracle;
                        continue;
                    }
                    Category& c = p.tally->differences["unmodelled group, undefined for capstone and llvm-mc"];
                    ++c.count;
                    continue;
                }
                if (!llvm.empty() && cls == p.cls) {
                    ++p.tally->agree;
                    ++p.tally->secondOracle;
                    continue;
                }
                const std::string key = p.cls + ":oracle-undefined, llvm-mc " + (llvm.empty() ? "undefined" : "\"" + llvm + "\"");
                Category& c = p.tally->differences[key];
                ++c.count;
                if (c.examples.size() < options_.examples) {
                    char buffer[300];
                    std::snprintf(buffer, sizeof buffer, "%08X @%" PRIX64 ": ours \"%s\"", p.word, p.address, p.text.c_str());
                    c.examples.push_back(buffer);
                }
            }
        }
        pending_.clear();
    }

private:
    struct Pending {
        Tally* tally;
        Isa isa;
        std::uint32_t word;
        unsigned length;
        std::string cls, text;
        std::uint64_t address;
    };

    // llvm-mc's mnemonic for each word, "" for words it rejects. A NOP after every word marks
    // where each word's output ends (a rejected word prints nothing).
    static std::vector<std::string> llvmMnemonics(Isa isa, const std::vector<Pending*>& batch) {
        const char* input = "/tmp/decoder-diff-llvm.txt";
        std::FILE* f = std::fopen(input, "w");
        if (!f) return {};
        const char* nop = isa == Isa::A64 ? "0x1f,0x20,0x03,0xd5" : isa == Isa::Thumb ? "0x00,0xbf" : "0x00,0xf0,0x20,0xe3";
        for (const Pending* p : batch) {
            const unsigned n = p->length;
            for (unsigned b = 0; b < n; ++b) std::fprintf(f, "%s0x%02x", b ? "," : "", (p->word >> (8 * b)) & 0xFF);
            std::fprintf(f, "\n%s\n", nop);
        }
        std::fclose(f);
        const char* triple = isa == Isa::A64 ? "-triple=aarch64 -mattr=+v8.5a,+mte,+lse,+rcpc-immo,+pauth"
                             : isa == Isa::Thumb ? "-triple=thumbv8a" : "-triple=armv8a";
        const std::string command = std::string("llvm-mc --disassemble ") + triple + " " + input + " 2>/dev/null";
        std::FILE* out = popen(command.c_str(), "r");
        std::vector<std::string> result;
        if (!out) return result;
        char line[512];
        std::string current;
        bool have = false;
        while (std::fgets(line, sizeof line, out)) {
            std::string text = line;
            const std::size_t start = text.find_first_not_of(" \t");
            if (start == std::string::npos || text[start] == '.' || text[start] == '#') continue;
            const std::size_t end = text.find_first_of(" \t\n", start);
            const std::string mnemonic = text.substr(start, end - start);
            if (mnemonic == "nop" && (have || result.size() < batch.size())) {
                // the marker closes one word's output
                result.push_back(have ? current : std::string());
                have = false;
                current.clear();
                continue;
            }
            current = mnemonic;
            have = true;
        }
        pclose(out);
        std::remove(input);
        return result;
    }

    std::vector<Pending> pending_;
    bool askAboutUnmodelled_ = true;

public:
    // Random words: the whole unmodelled groups are not worth a question each.
    void askAboutUnmodelled(bool ask) { askAboutUnmodelled_ = ask; }

    const Options& options_;
    CapstoneOracle oracle_;
    std::uint64_t realDisagreements_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--elf") o.elves.push_back(next());
        else if (a == "--mc") o.mcDirectory = next();
        else if (a == "--random") o.random = std::strtoull(next().c_str(), nullptr, 10);
        else if (a == "--seed") o.seed = std::strtoull(next().c_str(), nullptr, 10);
        else if (a == "--examples") o.examples = static_cast<unsigned>(std::strtoul(next().c_str(), nullptr, 10));
        else if (a == "--dump") o.dump = true;
        else if (a == "--strict") o.strict = true;
        else {
            std::fprintf(stderr, "usage: %s [--elf FILE]... [--mc DIR] [--random N] [--seed S] [--examples K] [--dump] [--strict]\n", argv[0]);
            return 2;
        }
    }
    Differ differ(o);
    std::map<Isa, Tally> totals;
    for (const std::string& path : o.elves) differ.elf(path, totals);
    if (!o.mcDirectory.empty()) differ.mc(o.mcDirectory, totals);
    if (o.random) {
        if (kIs64) {
            differ.randomWords(Isa::A64, totals);
        } else {
            differ.randomWords(Isa::Arm, totals);
            differ.randomWords(Isa::Thumb, totals);
        }
    }
    std::printf("\n");
    for (auto& [isa, tally] : totals)
        std::printf("%s: %" PRIu64 "/%" PRIu64 " agree\n", isaName(isa), tally.agree, tally.total);
    if (o.strict && differ.realDisagreements()) {
        std::printf("real code disagreements: %" PRIu64 "\n", differ.realDisagreements());
        return 1;
    }
    return 0;
}

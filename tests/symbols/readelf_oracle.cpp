#include "tests/symbols/readelf_oracle.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "tests/support/temp_folder.h"

#ifndef FERROVANE_READELF
#define FERROVANE_READELF ""
#endif

namespace testsupport {
namespace {

std::vector<std::string> tokens(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string t; in >> t;) out.push_back(t);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool isHex(const std::string& t) {
    return !t.empty() && t.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::uint64_t hex(const std::string& t) {
    return std::strtoull(t.c_str() + (t.rfind("0x", 0) == 0 ? 2 : 0), nullptr, 16);
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// "LOOS+0x1", "LOPROC+0x3", "0x6000000f": the values readelf prints for types it has no name for.
std::optional<std::uint32_t> rangeValue(const std::string& name) {
    static const std::pair<const char*, std::uint32_t> kBases[] = {
        {"LOOS+", 0x60000000u}, {"LOPROC+", 0x70000000u}, {"LOUSER+", 0x80000000u}};
    for (const auto& [prefix, base] : kBases)
        if (startsWith(name, prefix)) return base + static_cast<std::uint32_t>(hex(name.substr(std::string(prefix).size())));
    if (startsWith(name, "0x")) return static_cast<std::uint32_t>(hex(name));
    return std::nullopt;
}

}  // namespace

std::string readelfProgram() { return FERROVANE_READELF; }

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool runCommandInto(const std::string& command, const std::string& output) {
    return std::system((command + " > " + shellQuote(output) + " 2>/dev/null").c_str()) == 0;
}

std::optional<std::string> runCommand(const std::string& command) {
    static std::mt19937_64 names(std::random_device{}());
    auto output = std::filesystem::temp_directory_path() / ("ferrovane-cmd-" + std::to_string(names()) + ".txt");
    bool ok = runCommandInto(command, output.string());
    std::string text = std::filesystem::exists(output) ? readFile(output) : std::string();
    std::filesystem::remove(output);
    if (!ok) return std::nullopt;
    return text;
}

std::vector<RefSection> parseSections(const std::string& text, unsigned addressDigits) {
    std::vector<RefSection> out;
    for (const std::string& line : lines(text)) {
        auto open = line.find('[');
        auto close = line.find(']');
        if (open == std::string::npos || close == std::string::npos || open > 4) continue;
        std::string number = line.substr(open + 1, close - open - 1);
        if (number.find_first_not_of(" 0123456789") != std::string::npos || number.find_first_of("0123456789") == std::string::npos)
            continue;
        auto t = tokens(line.substr(close + 1));
        // The address column is the first token of exactly the address width followed by the
        // 6-digit offset; the name (possibly empty) and type come before it.
        std::size_t a = 1;
        while (a + 3 < t.size() && !(isHex(t[a]) && t[a].size() == addressDigits && isHex(t[a + 1]))) ++a;
        if (a + 3 >= t.size()) continue;
        RefSection s;
        s.index = static_cast<std::uint32_t>(std::stoul(number));
        s.name = a >= 2 ? t[0] : "";  // section 0 and other unnamed sections print no name
        for (std::size_t i = a >= 2 ? 1 : 0; i < a; ++i) s.type += (s.type.empty() ? "" : " ") + t[i];
        s.addr = hex(t[a]);
        s.offset = hex(t[a + 1]);
        s.size = hex(t[a + 2]);
        std::size_t rest = t.size() - (a + 4);  // after ES: [flags] link info align
        if (rest == 4) s.flags = t[a + 4];
        out.push_back(s);
    }
    return out;
}

std::vector<RefSegment> parseSegments(const std::string& text) {
    std::vector<RefSegment> out;
    bool inTable = false;
    for (const std::string& line : lines(text)) {
        auto t = tokens(line);
        if (!t.empty() && t[0] == "Type" && line.find("Offset") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable) continue;
        if (t.empty()) break;
        if (t.size() < 7 || !startsWith(t[1], "0x")) continue;  // "[Requesting program interpreter: ...]"
        RefSegment s;
        s.type = t[0];
        s.offset = hex(t[1]);
        s.vaddr = hex(t[2]);
        s.paddr = hex(t[3]);
        s.filesz = hex(t[4]);
        s.memsz = hex(t[5]);
        for (std::size_t i = 6; i + 1 < t.size(); ++i) s.flags += t[i];
        s.align = hex(t.back());
        out.push_back(s);
    }
    return out;
}

std::vector<RefNoteGroup> parseNotes(const std::string& text, std::string* firstBuildId) {
    std::vector<RefNoteGroup> out;
    for (const std::string& line : lines(text)) {
        if (startsWith(line, "Displaying notes found in: ")) {
            out.push_back({line.substr(27), std::nullopt, {}});
            continue;
        }
        if (startsWith(line, "Displaying notes found at file offset ")) {
            out.push_back({"", hex(tokens(line)[6]), {}});
            continue;
        }
        auto id = line.find("Build ID: ");
        if (id != std::string::npos && firstBuildId && firstBuildId->empty()) *firstBuildId = tokens(line.substr(id + 10))[0];
        if (out.empty() || !startsWith(line, "  ") || line[2] == ' ') continue;
        auto t = tokens(line);
        if (t.size() < 2 || t[0] == "Owner") continue;
        RefNote note;
        std::size_t size = startsWith(t[0], "0x") ? 0 : 1;  // an empty owner prints nothing
        note.owner = size == 0 || t[0] == "(NONE)" ? "" : t[0];
        note.descsz = hex(t[size]);
        out.back().notes.push_back(note);
    }
    return out;
}

namespace {

// Reads the fields of one symbol line in order.
class Fields {
public:
    explicit Fields(const std::string& line) : line_(line) {}
    std::string next() {
        skipSpaces();
        std::size_t start = pos_;
        while (pos_ < line_.size() && line_[pos_] != ' ' && line_[pos_] != '\t') ++pos_;
        return line_.substr(start, pos_ - start);
    }
    // A type or binding: a word, or "<OS specific>: 10" for values readelf has no name for.
    std::string kind() {
        skipSpaces();
        if (pos_ >= line_.size() || line_[pos_] != '<') return next();
        std::size_t close = line_.find('>', pos_);
        if (close == std::string::npos) return next();
        std::size_t start = pos_;
        pos_ = close + 1;
        next();  // ":"
        std::string number = next();
        return line_.substr(start, close + 1 - start) + ": " + number;
    }
    // Skips a bracketed group such as "[VARIANT_PCS]" or "[<other>: 88]".
    void skipBracketed() {
        skipSpaces();
        if (pos_ < line_.size() && line_[pos_] == '[') {
            std::size_t close = line_.find(']', pos_);
            pos_ = close == std::string::npos ? line_.size() : close + 1;
        }
    }
    // The rest of the line after the single space that separates it.
    std::string rest() const { return pos_ + 1 < line_.size() ? line_.substr(pos_ + 1) : ""; }

private:
    void skipSpaces() {
        while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t')) ++pos_;
    }
    const std::string& line_;
    std::size_t pos_ = 0;
};

}  // namespace

std::vector<RefSymbolTable> parseSymbols(const std::string& text) {
    std::vector<RefSymbolTable> out;
    for (const std::string& line : lines(text)) {
        if (startsWith(line, "Symbol table '")) {
            auto end = line.find('\'', 14);
            auto t = tokens(line.substr(end + 1));
            out.push_back({line.substr(14, end - 14), t.size() >= 2 ? std::stoull(t[1]) : 0, {}});
            continue;
        }
        Fields f(line);
        std::string number = f.next();
        if (out.empty() || number.size() < 2 || number.back() != ':') continue;
        std::string value = f.next();
        if (!isHex(value)) continue;
        RefSymbol s;
        s.value = hex(value);
        std::string size = f.next();
        s.size = startsWith(size, "0x") ? hex(size) : std::stoull(size);
        s.type = f.kind();
        s.bind = f.kind();
        f.next();  // visibility
        f.skipBracketed();
        f.next();  // section index
        // readelf appends the version to dynamic symbols ("malloc@LIBC (2)"); names in .symtab
        // may carry "@@" themselves.
        std::string name = f.rest();
        auto at = name.find('@');
        s.name = at == std::string::npos || out.back().section != ".dynsym" ? name : name.substr(0, at);
        out.back().symbols.push_back(s);
    }
    return out;
}

std::optional<std::uint32_t> sectionTypeValue(const std::string& name) {
    static const std::map<std::string, std::uint32_t> kTypes = {
        {"NULL", 0}, {"PROGBITS", 1}, {"SYMTAB", 2}, {"STRTAB", 3}, {"RELA", 4}, {"HASH", 5}, {"DYNAMIC", 6},
        {"NOTE", 7}, {"NOBITS", 8}, {"REL", 9}, {"SHLIB", 10}, {"DYNSYM", 11}, {"INIT_ARRAY", 14},
        {"FINI_ARRAY", 15}, {"PREINIT_ARRAY", 16}, {"GROUP", 17}, {"SYMTAB SECTION INDICES", 18}, {"RELR", 19},
        {"GNU_ATTRIBUTES", 0x6ffffff5}, {"GNU_HASH", 0x6ffffff6}, {"GNU_LIBLIST", 0x6ffffff7},
        {"VERDEF", 0x6ffffffd}, {"VERNEED", 0x6ffffffe}, {"VERSYM", 0x6fffffff}, {"ARM_EXIDX", 0x70000001},
        {"ARM_PREEMPTMAP", 0x70000002}, {"ARM_ATTRIBUTES", 0x70000003}, {"AARCH64_ATTRIBUTES", 0x70000003},
        {"ANDROID_REL", 0x60000001}, {"ANDROID_RELA", 0x60000002}, {"ANDROID_RELR", 0x6fffff00},
        {"LLVM_ADDRSIG", 0x6fff4c03}};
    auto it = kTypes.find(name);
    if (it != kTypes.end()) return it->second;
    return rangeValue(name);
}

std::optional<std::uint32_t> segmentTypeValue(const std::string& name) {
    static const std::map<std::string, std::uint32_t> kTypes = {
        {"NULL", 0}, {"LOAD", 1}, {"DYNAMIC", 2}, {"INTERP", 3}, {"NOTE", 4}, {"SHLIB", 5}, {"PHDR", 6},
        {"TLS", 7}, {"GNU_EH_FRAME", 0x6474e550}, {"GNU_STACK", 0x6474e551}, {"GNU_RELRO", 0x6474e552},
        {"GNU_PROPERTY", 0x6474e553}, {"GNU_SFRAME", 0x6474e554}, {"EXIDX", 0x70000001},
        {"AARCH64_MEMTAG_MTE", 0x70000002}};
    auto it = kTypes.find(name);
    if (it != kTypes.end()) return it->second;
    return rangeValue(name);
}

}  // namespace testsupport

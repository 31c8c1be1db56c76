#include "tests/unwind/readelf_frames.h"

#include <cstdlib>
#include <sstream>

namespace testsupport {
namespace {

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

bool isHex(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

RefRule parseRule(const std::string& cell, bool aarch64, unsigned returnRegister) {
    if (cell == "u") return {RefRule::Kind::Undefined};
    if (cell == "s") return {RefRule::Kind::Same};
    if (cell == "exp") return {RefRule::Kind::Expression};
    if (cell == "vexp") return {RefRule::Kind::ValExpression};
    if (cell.size() > 1 && (cell[0] == 'c' || cell[0] == 'v') && (cell[1] == '+' || cell[1] == '-'))
        return {cell[0] == 'c' ? RefRule::Kind::Offset : RefRule::Kind::ValOffset, std::strtoll(cell.c_str() + 1, nullptr, 10)};
    const int reg = registerNumber(cell, aarch64, returnRegister);
    if (reg >= 0) return {RefRule::Kind::Register, reg};
    return {RefRule::Kind::Other};
}

}  // namespace

int registerNumber(const std::string& name, bool aarch64, unsigned returnRegister) {
    if (name == "ra") return static_cast<int>(returnRegister);
    if (name == "sp") return aarch64 ? 31 : 13;
    if (name == "pc") return aarch64 ? 32 : 15;
    if (name == "lr") return aarch64 ? 30 : 14;
    if (name.size() < 2 || !std::isdigit(static_cast<unsigned char>(name[1]))) return -1;
    const int n = std::atoi(name.c_str() + 1);
    if (name[0] == 'r') return n;
    if (aarch64 && name[0] == 'x') return n;
    if (aarch64 && name[0] == 'v') return 64 + n;
    return -1;
}

std::vector<RefFde> parseFramesInterp(const std::string& text, bool aarch64) {
    std::vector<RefFde> out;
    std::istringstream in(text);
    std::string section;
    std::vector<RefRow>* rows = nullptr;
    std::vector<int>* columns = nullptr;
    unsigned returnRegister = 0;
    // CIE rows by the CIE's offset, so that an FDE without instructions can use them.
    std::vector<std::pair<std::string, std::pair<std::vector<int>, std::vector<RefRow>>>> cies;
    std::vector<std::pair<std::string, unsigned>> cieReturn;
    std::vector<int> scratchColumns;
    std::vector<RefRow> scratchRows;
    std::string currentCie;
    for (std::string line; std::getline(in, line);) {
        if (startsWith(line, "Contents of the ")) {
            section = words(line).size() > 3 ? words(line)[3] : "";
            rows = nullptr;
            continue;
        }
        // "r1 (x1)": the register's name in parentheses follows its number.
        for (std::size_t open = line.find(" ("); open != std::string::npos; open = line.find(" (")) {
            const std::size_t close = line.find(')', open);
            if (close == std::string::npos) break;
            line.erase(open, close - open + 1);
        }
        const std::vector<std::string> w = words(line);
        if (w.size() >= 4 && w[3] == "CIE") {
            currentCie = section + ":" + w[0];
            returnRegister = 0;
            for (const std::string& item : w)
                if (startsWith(item, "ra=")) returnRegister = static_cast<unsigned>(std::atoi(item.c_str() + 3));
            cieReturn.push_back({currentCie, returnRegister});
            cies.push_back({currentCie, {}});
            columns = &cies.back().second.first;
            rows = &cies.back().second.second;
            continue;
        }
        if (w.size() >= 6 && w[3] == "FDE" && startsWith(w[4], "cie=") && startsWith(w[5], "pc=")) {
            RefFde fde;
            fde.section = section;
            const std::string range = w[5].substr(3);
            const std::size_t dots = range.find("..");
            fde.begin = std::strtoull(range.substr(0, dots).c_str(), nullptr, 16);
            fde.end = std::strtoull(range.substr(dots + 2).c_str(), nullptr, 16);
            const std::string cieKey = section + ":" + w[4].substr(4);
            for (const auto& [key, ra] : cieReturn)
                if (key == cieKey) fde.returnRegister = ra;
            for (const auto& [key, table] : cies) {
                if (key == cieKey) {
                    fde.cieColumns = table.first;
                    fde.cieRows = table.second;
                }
            }
            returnRegister = fde.returnRegister;
            out.push_back(fde);
            columns = &out.back().columns;
            rows = &out.back().rows;
            continue;
        }
        if (!rows) continue;
        if (line.find("bad register") != std::string::npos && !out.empty() && rows == &out.back().rows) {
            out.back().incomplete = true;
            continue;
        }
        if (!w.empty() && w[0] == "LOC" && w.size() >= 2) {
            columns->clear();
            for (std::size_t i = 2; i < w.size(); ++i) columns->push_back(registerNumber(w[i], aarch64, returnRegister));
            continue;
        }
        if (w.size() >= 2 && isHex(w[0]) && w.size() == columns->size() + 2) {
            RefRow row;
            row.location = std::strtoull(w[0].c_str(), nullptr, 16);
            if (w[1] == "exp") {
                row.cfaIsExpression = true;
            } else {
                const std::size_t sign = w[1].find_first_of("+-");
                row.cfaRegister = registerNumber(w[1].substr(0, sign), aarch64, returnRegister);
                if (sign != std::string::npos) row.cfaOffset = std::strtoll(w[1].c_str() + sign, nullptr, 10);
            }
            for (std::size_t i = 2; i < w.size(); ++i) row.rules.push_back(parseRule(w[i], aarch64, returnRegister));
            rows->push_back(row);
        }
    }
    return out;
}

std::vector<RefExidxEntry> parseUnwindInfo(const std::string& text) {
    std::vector<RefExidxEntry> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (startsWith(line, "0x")) {
            // "0x182c0 <exit>: 0x80a8b0b0", "0x26528 <f+0x14>: @0xe380", "0x1234: 0x1 [cantunwind]"
            RefExidxEntry entry;
            entry.function = std::strtoull(line.c_str(), nullptr, 16);
            entry.cantUnwind = line.find("[cantunwind]") != std::string::npos;
            out.push_back(entry);
            continue;
        }
        if (out.empty()) continue;
        if (line.find("Personality routine:") != std::string::npos) {
            out.back().generic = true;
            continue;
        }
        if (startsWith(line, "  0x")) {
            // "  0xa8      pop {r4, r14}": the text follows the byte values.
            std::size_t at = 2;
            while (at < line.size()) {
                while (at < line.size() && line[at] == ' ') ++at;
                if (!startsWith(line.substr(at), "0x")) break;
                while (at < line.size() && line[at] != ' ') ++at;
            }
            out.back().ops.push_back({static_cast<unsigned>(std::strtoul(line.c_str() + 2, nullptr, 16)), line.substr(at)});
        }
    }
    return out;
}

}  // namespace testsupport

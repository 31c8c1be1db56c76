#include "tools/fixturekit/maps_text.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fixturekit {

std::uint32_t MapsEntry::elfFlags() const {
    return (readable() ? 4u : 0u) | (writable() ? 2u : 0u) | (executable() ? 1u : 0u);
}

namespace {

bool parseHex(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 16) return false;
    value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return true;
}

}  // namespace

std::optional<MapsEntry> parseMapsLine(const std::string& line) {
    std::istringstream in(line);
    std::string range, perms, offset, device, inode;
    if (!(in >> range >> perms)) return std::nullopt;
    MapsEntry e;
    const auto dash = range.find('-');
    std::uint64_t end = 0;
    if (dash == std::string::npos || !parseHex(range.substr(0, dash), e.start) ||
        !parseHex(range.substr(dash + 1), end) || perms.size() != 4)
        return std::nullopt;
    if (end <= e.start) return std::nullopt;
    e.end = end;
    e.perms = perms;
    if (in >> offset) {
        if (!parseHex(offset, e.offset)) return std::nullopt;
        if (in >> device) e.device = device;
        if (in >> inode) e.inode = std::strtoull(inode.c_str(), nullptr, 10);
        std::string rest;
        std::getline(in, rest);
        const auto first = rest.find_first_not_of(" \t");
        const auto last = rest.find_last_not_of(" \t\r\n");
        if (first != std::string::npos) e.path = rest.substr(first, last - first + 1);
    }
    return e;
}

std::vector<MapsEntry> parseMaps(const std::string& text, std::size_t* skipped) {
    std::vector<MapsEntry> out;
    std::istringstream in(text);
    std::string line;
    std::size_t bad = 0;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (auto e = parseMapsLine(line)) out.push_back(*e);
        else ++bad;
    }
    if (skipped) *skipped = bad;
    return out;
}

std::string formatMapsLine(const MapsEntry& e, bool is64) {
    char head[160];
    int n = std::snprintf(head, sizeof head, "%08" PRIx64 "-%08" PRIx64 " %s %08" PRIx64 " %s %" PRIu64, e.start, e.end,
                          e.perms.c_str(), e.offset, e.device.c_str(), e.inode);
    std::string line(head, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (!e.path.empty()) {
        const std::size_t width = is64 ? 73 : 49;
        if (line.size() < width) line.append(width - line.size(), ' ');
        line += ' ';
        line += e.path;
    }
    line += '\n';
    return line;
}

std::string readTextFile(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    if (ok) *ok = static_cast<bool>(in);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool writeTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

bool writeBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::optional<std::vector<std::uint8_t>> readBinaryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace fixturekit

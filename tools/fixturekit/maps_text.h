// Linux /proc/PID/maps text: parsing lines (also the loose forms of hand-written snapshots: short
// offsets, missing names, ends as written even when unaligned) and writing them as the kernel does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fixturekit {

struct MapsEntry {
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // as written (exclusive in kernel maps)
    std::string perms = "---p";
    std::uint64_t offset = 0;
    std::string device = "00:00";
    std::uint64_t inode = 0;
    std::string path;  // empty for anonymous mappings

    bool readable() const { return perms.size() > 0 && perms[0] == 'r'; }
    bool writable() const { return perms.size() > 1 && perms[1] == 'w'; }
    bool executable() const { return perms.size() > 2 && perms[2] == 'x'; }
    // ELF p_flags of the permissions (PF_R 4, PF_W 2, PF_X 1).
    std::uint32_t elfFlags() const;
};

// One maps line; nothing for a line that does not start with "start-end perms".
std::optional<MapsEntry> parseMapsLine(const std::string& line);
// All parsable lines of a maps text, in order; unparsable lines are counted in `skipped`.
std::vector<MapsEntry> parseMaps(const std::string& text, std::size_t* skipped = nullptr);

// A line as the kernel writes it (hexadecimal fields padded to 8 digits, the path in column 74 for
// 64-bit processes and 50 for 32-bit ones), with its newline.
std::string formatMapsLine(const MapsEntry& entry, bool is64);

std::string readTextFile(const std::string& path, bool* ok = nullptr);
bool writeTextFile(const std::string& path, const std::string& text);
bool writeBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> readBinaryFile(const std::string& path);

}  // namespace fixturekit

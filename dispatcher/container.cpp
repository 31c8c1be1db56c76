#include "dispatcher/container.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/file_map.h"
#include "platform/paths.h"

namespace dispatcher {
namespace {

constexpr std::size_t kHeaderSize = 40;

// Where the entry table starts for a container version; 0 for versions that are not known.
std::size_t tableStart(std::uint32_t version) {
    if (version == 16) return 40;
    if (version == 17 || version == 18) return 48;
    return 0;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device instead of a file for these names, with or without an extension.
bool isDeviceName(std::string_view name) {
    std::string stem;
    for (char c : name.substr(0, name.find('.'))) stem += upper(c);
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

// Reads one entry at `position`; false when it is to be skipped.
bool readEntry(common::ByteView file, std::uint64_t position, ContainerEntry& entry) {
    auto record = file.sub(position, kContainerEntrySize);
    if (!record) return false;
    common::ByteReader reader(*record);
    reader.skip(4);
    std::uint32_t present = reader.u32();
    std::uint32_t offset = reader.u32();
    std::uint32_t length = reader.u32();
    reader.skip(4);
    std::uint32_t scrambled = reader.u32();
    if (!reader.ok() || present == 0) return false;

    // The name must end within its 32 bytes.
    auto nameField = record->sub(32, kEntryNameSize);
    auto name = nameField ? nameField->cstring(0) : std::nullopt;
    if (!name || !isSafeEntryName(*name)) return false;

    // 64-bit arithmetic: offset + length cannot wrap, and data past the end is a short read.
    auto data = file.sub(offset, length);
    if (!data) return false;
    entry.name = *name;
    entry.data = *data;
    entry.scrambled = scrambled != 0;
    return true;
}

}  // namespace

bool isSafeEntryName(std::string_view name) {
    if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7F) return false;
    }
    return !isDeviceName(name);
}

void forEachContainerEntry(common::ByteView file, const std::function<void(const ContainerEntry&)>& visit) {
    if (file.size() < kHeaderSize) return;
    common::ByteReader header(file);
    std::uint32_t magic = header.u32();
    std::uint32_t version = header.u32();
    std::uint32_t tableEnd = header.u32();
    std::size_t start = tableStart(version);
    if (!header.ok() || magic != kContainerMagic || start == 0) return;

    // Entries are read while their position is below the table's end; once an entry would reach
    // past the file every later one would too, so the walk stops there rather than count up to a
    // stored end of up to 4 GB.
    for (std::uint64_t position = start; position < tableEnd; position += kContainerEntrySize) {
        if (position + kContainerEntrySize > file.size()) break;
        ContainerEntry entry;
        if (readEntry(file, position, entry)) visit(entry);
    }
}

std::vector<std::uint8_t> entryContents(const ContainerEntry& entry) {
    std::vector<std::uint8_t> bytes(entry.data.data(), entry.data.data() + entry.data.size());
    if (!entry.scrambled) return bytes;
    // Word-wise XOR with a little-endian mask is byte-wise XOR with the mask's bytes in turn; the
    // last, partial word is unscrambled over the bytes that exist.
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] ^= static_cast<std::uint8_t>(kScrambleMask >> (8 * (i % 4)));
    return bytes;
}

unsigned unpackContainer() {
    std::unique_ptr<platform::FileMapping> mapping;
    for (const char* name : kContainerFileNames) {
        mapping = platform::FileMapping::open(name);
        if (mapping) break;
    }
    if (!mapping) return 0;
    unsigned written = 0;
    common::ByteView file(mapping->data(), static_cast<std::size_t>(mapping->size()));
    forEachContainerEntry(file, [&written](const ContainerEntry& entry) {
        // A file that cannot be written is skipped silently, and leaves nothing behind.
        std::string name(entry.name);
        if (!entry.scrambled) {
            if (platform::writeFileAtomically(name, entry.data.data(), entry.data.size())) ++written;
            return;
        }
        std::vector<std::uint8_t> bytes;
        try {
            bytes = entryContents(entry);
        } catch (const std::bad_alloc&) {
            return;  // no memory for the unscrambled copy: the entry is skipped
        }
        if (platform::writeFileAtomically(name, bytes.data(), bytes.size())) ++written;
    });
    return written;
}

}  // namespace dispatcher

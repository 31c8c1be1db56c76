#include "analyzer/process/page_map.h"

#include <cctype>
#include <iterator>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/db_text.h"
#include "common/byte_reader.h"
#include "common/text_format.h"
#include "platform/file_map.h"

namespace coresift {

namespace {

constexpr std::size_t kLineLimit = 1023;
constexpr std::size_t kKeyLength = 17;  // "[%12llx] : "
constexpr std::uint64_t kPresent = std::uint64_t{1} << 63;
constexpr std::uint64_t kSwapped = std::uint64_t{1} << 62;
constexpr std::uint64_t kFrameMask = 0x7FFFFFFFFFFFFF;  // bits 0-54

constexpr const char* kPageFlagNames[] = {
    "LOCKED",      "ERROR",    "REFERENCED", "UPTODATE",   "DIRTY",     "LRU",           "ACTIVE",
    "SLAB",        "WRITEBACK", "RECLAIM",   "BUDDY",      "MMAP",      "ANON",          "SWAPCACHE",
    "SWAPBACKED",  "COMPOUND_HEAD", "COMPOUND_TAIL", "HUGE", "UNEVICTABLE", "HWPOISON", "NOPAGE",
    "KSM",         "THP",      "BALLOON",    "ZERO_PAGE",  "IDLE"};

unsigned pageShiftOf(const RunContext& context) {
    if (!kIs64 || !context.core) return 12;
    unsigned shift = 12;
    while (shift < 63 && (std::uint64_t{1} << shift) < context.core->pageSize) ++shift;
    return shift;
}

// "%llx" as scanf reads it: white space, an optional "0x", hexadecimal digits.
std::optional<std::uint64_t> scanHex(std::string_view& text) {
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string_view::npos) return std::nullopt;
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        i += 2;
    std::uint64_t value = 0;
    std::size_t first = i;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value >> 60) return std::nullopt;  // more than 64 bits
        char c = text[i];
        unsigned digit = c <= '9' ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10);
        value = value << 4 | digit;
    }
    if (i == first) return std::nullopt;
    text.remove_prefix(i);
    return value;
}

// The page-flags summary of the process, when the db has one.
std::optional<DbTextFile> openSummary(const RunContext& context) {
    if (!context.core) return std::nullopt;
    return DbTextFile::open(common::format(kPageFlagsSummaryFormat, static_cast<int>(context.core->pid)).text);
}

// The raw page map's entry for `address` (one 64-bit word per 4096-byte page); 0 when the file
// is missing or too short.
std::uint64_t rawEntry(TargetWord address) {
    auto mapping = platform::FileMapping::open(kPageMapFile);
    if (!mapping) return 0;
    common::ByteView bytes(mapping->data(), static_cast<std::size_t>(mapping->size()));
    return bytes.read<std::uint64_t>(std::uint64_t{address >> 12} * 8).value_or(0);
}

}  // namespace

std::optional<std::string> summaryInfo(std::string_view summary, TargetWord key, unsigned pageShift) {
    std::string wanted = common::format("[%12llx] : ", static_cast<unsigned long long>(key)).text.substr(0, kKeyLength);
    LineReader lines(summary, kLineLimit);
    std::string_view line;
    while (lines.next(line)) {
        if (line.substr(0, kKeyLength) != wanted) continue;
        std::string_view rest = line.substr(kKeyLength);
        auto entry = scanHex(rest);
        if (!entry || rest.empty() || rest.front() != ',') return std::nullopt;
        rest.remove_prefix(1);
        auto flags = scanHex(rest);
        if (!flags) return std::nullopt;
        std::string text = pageMapEntryText(*entry, pageShift);
        if (*flags) {
            text += ",";
            for (unsigned bit = 0; bit < std::size(kPageFlagNames); ++bit)
                if (*flags >> bit & 1) text += std::string(" ") + kPageFlagNames[bit];
        }
        return text + "\n";
    }
    return std::nullopt;
}

std::string pageMapEntryText(std::uint64_t entry, unsigned pageShift) {
    if (entry & kPresent) {
        std::uint64_t frame = kIs64 ? entry & kFrameMask : entry;
        return common::format("PA: 0x%llX", static_cast<unsigned long long>(frame << pageShift)).text;
    }
    if (entry & kSwapped) {
        auto offset = static_cast<unsigned long long>(((entry << 9) >> 14) << pageShift);
        return common::format("SWAP: type: %d, off: %llX", static_cast<int>(entry & 31), offset).text;
    }
    return "PA: N/A";
}

std::string pageInfo(const RunContext& context, TargetWord address) {
    unsigned pageShift = pageShiftOf(context);
    TargetWord key = address & ~((TargetWord{1} << pageShift) - 1);
    if (auto summary = openSummary(context)) {
        if (auto line = summaryInfo(summary->text(), key, pageShift)) return *line;
    }
    return pageMapEntryText(rawEntry(address), pageShift) + "\n";
}

}  // namespace coresift

#include "analyzer/symbols/code_comparison.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace coresift {

namespace {

constexpr std::size_t kRunGapWords = 16;
constexpr std::size_t kPatternLookBack = 33;
constexpr unsigned kMaxUnexplained = 2;

// Reads byte `i` of `bytes`, 0 past its end.
std::uint8_t byteAt(common::ByteView bytes, std::size_t i) { return i < bytes.size() ? bytes.data()[i] : 0; }

bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool isAlnum(std::uint8_t c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A text of `length` characters at `at` not glued to a letter or digit on either side.
bool standsAlone(common::ByteView b, std::size_t at, std::size_t length) {
    if (at + length > b.size()) return false;
    if (at > 0 && isAlnum(b.data()[at - 1])) return false;
    return at + length == b.size() || !isAlnum(b.data()[at + length]);
}

unsigned twoDigits(common::ByteView b, std::size_t at) { return (b.data()[at] - '0') * 10u + (b.data()[at + 1] - '0'); }

// "hh:mm:ss" with hour <= 23, minute and second <= 59.
std::size_t timeAt(common::ByteView b, std::size_t at) {
    if (!standsAlone(b, at, 8)) return 0;
    const std::uint8_t* p = b.data() + at;
    if (p[2] != ':' || p[5] != ':') return 0;
    for (std::size_t i : {0, 1, 3, 4, 6, 7})
        if (!isDigit(p[i])) return 0;
    if (twoDigits(b, at) > 23 || twoDigits(b, at + 3) > 59 || twoDigits(b, at + 6) > 59) return 0;
    return 8;
}

// "Mmm dd yyyy" (the day may be blank-padded) with a day below 34 and a year from 1970.
std::size_t dateAt(common::ByteView b, std::size_t at) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!standsAlone(b, at, 11)) return 0;
    const std::uint8_t* p = b.data() + at;
    if (p[3] != ' ' || p[6] != ' ' || !isDigit(p[5])) return 0;
    bool month = false;
    for (const char* name : kMonths) month = month || std::memcmp(p, name, 3) == 0;
    if (!month) return 0;
    unsigned day = p[5] - '0';
    if (isDigit(p[4])) day += (p[4] - '0') * 10u;
    else if (p[4] != ' ') return 0;
    unsigned year = 0;
    for (std::size_t i = 7; i < 11; ++i) {
        if (!isDigit(p[i])) return 0;
        year = year * 10 + (p[i] - '0');
    }
    return day < 34 && year >= 1970 ? 11 : 0;
}

std::uint32_t wordAt(common::ByteView b, std::size_t at) { return b.read<std::uint32_t>(at).value_or(0); }

// A GNU build-id note with a 16-byte descriptor.
std::size_t buildIdNoteAt(common::ByteView b, std::size_t at) {
    if (at % 4 || at + 32 > b.size()) return 0;
    if (wordAt(b, at) != 4 || wordAt(b, at + 4) != 16 || wordAt(b, at + 8) != 3) return 0;
    return std::memcmp(b.data() + at + 12, "GNU", 4) == 0 ? 32 : 0;
}

// One to three trap-padding words.
std::size_t padAt(common::ByteView b, std::size_t at) {
    if (at % 4) return 0;
    std::size_t length = 0;
    while (length < 12 && at + length + 4 <= b.size() && wordAt(b, at + length) == 0xD4D4D4D4u) length += 4;
    return length;
}

// The length of a benign pattern starting at `at`, 0 when there is none. A time, a date or a
// build-id note must be one on both sides; padding is padding on either.
std::size_t patternAt(common::ByteView dump, common::ByteView file, std::size_t at) {
    for (auto match : {timeAt, dateAt, buildIdNoteAt}) {
        std::size_t length = match(dump, at);
        if (length && match(file, at) == length) return length;
    }
    return std::max(padAt(dump, at), padAt(file, at));
}

}  // namespace

bool benignRun(common::ByteView dump, common::ByteView file, std::size_t begin, std::size_t end) {
    std::size_t coveredUntil = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (byteAt(dump, i) == byteAt(file, i) || i < coveredUntil) continue;
        bool covered = false;
        for (std::size_t at = i > kPatternLookBack ? i - kPatternLookBack : 0; at <= i && !covered; ++at) {
            std::size_t length = patternAt(dump, file, at);
            if (length && at + length > i) {
                coveredUntil = at + length;
                covered = true;
            }
        }
        if (!covered) return false;
    }
    return true;
}

CodeComparison compareCode(common::ByteView dump, common::ByteView file) {
    CodeComparison result;
    const std::size_t length = dump.size();
    const std::size_t common = length < file.size() ? length : file.size();
    if (common == length && std::memcmp(dump.data(), file.data(), length) == 0) return result;
    result.identical = false;

    auto wordDiffers = [&](std::size_t word) {
        for (std::size_t i = word * 4; i < word * 4 + 4 && i < length; ++i)
            if (byteAt(dump, i) != byteAt(file, i)) return true;
        return false;
    };
    auto closeRun = [&](std::size_t first, std::size_t last) {
        DiffRun run{first * 4, last * 4 + 4 < length ? last * 4 + 4 : length};
        if (!benignRun(dump, file, run.begin, run.end)) result.unexplained.push_back(run);
    };

    const std::size_t words = (length + 3) / 4;
    bool open = false;
    std::size_t first = 0, last = 0;
    for (std::size_t w = 0; w < words && result.unexplained.size() < kMaxUnexplained; ++w) {
        // Equal stretches are skipped a block at a time.
        if (!open && w * 4 + 64 <= common && std::memcmp(dump.data() + w * 4, file.data() + w * 4, 64) == 0) {
            w += 15;
            continue;
        }
        const bool differs = wordDiffers(w);
        if (open && w - last >= kRunGapWords) {
            closeRun(first, last);
            open = false;
            if (result.unexplained.size() == kMaxUnexplained) break;
        }
        if (!differs) continue;
        if (!open) {
            open = true;
            first = w;
        }
        last = w;
    }
    if (open && result.unexplained.size() < kMaxUnexplained) closeRun(first, last);
    return result;
}

}  // namespace coresift

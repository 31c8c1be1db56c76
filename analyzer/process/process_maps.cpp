#include "analyzer/process/process_maps.h"

#include <limits>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/db_text.h"

namespace coresift {

namespace {

constexpr std::size_t kLineLimit = 4095;

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a line the way the C library's scanf reads "%x-%x %4s %*x %*x:%*x %*d%n": each number
// conversion skips leading white space and takes an optional sign; a hexadecimal one also an
// optional "0x". A number too large for a target address fails its conversion.
class ScanfCursor {
public:
    explicit ScanfCursor(std::string_view text) : text_(text) {}

    std::size_t position() const { return pos_; }

    void skipSpace() {
        while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
    }
    bool literal(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    std::optional<TargetWord> number(int base) {
        skipSpace();
        bool negative = false;
        if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) negative = text_[pos_++] == '-';
        if (base == 16 && pos_ + 2 < text_.size() && text_[pos_] == '0' &&
            (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X') && digit(text_[pos_ + 2], base) >= 0)
            pos_ += 2;
        std::uint64_t value = 0;
        bool overflow = false;
        std::size_t first = pos_;
        for (int d; pos_ < text_.size() && (d = digit(text_[pos_], base)) >= 0; ++pos_) {
            if (value > (std::numeric_limits<TargetWord>::max() - static_cast<unsigned>(d)) / static_cast<unsigned>(base))
                overflow = true;
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        }
        if (pos_ == first || overflow) return std::nullopt;
        auto result = static_cast<TargetWord>(value);
        return negative ? static_cast<TargetWord>(0 - result) : result;
    }
    // "%Ns": up to `width` characters that are not white space, at least one.
    std::optional<std::string_view> word(std::size_t width) {
        skipSpace();
        std::size_t first = pos_;
        while (pos_ < text_.size() && pos_ - first < width && !isSpace(text_[pos_])) ++pos_;
        if (pos_ == first) return std::nullopt;
        return text_.substr(first, pos_ - first);
    }

private:
    static int digit(char c, int base) {
        int d = hexDigit(c);
        return d < base ? d : -1;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<MapsLine> scanMapsLine(std::string_view line) {
    ScanfCursor scan(line);
    MapsLine result;
    auto start = scan.number(16);
    if (!start || !scan.literal('-')) return std::nullopt;
    auto end = scan.number(16);
    if (!end) return std::nullopt;
    auto permissions = scan.word(4);
    if (!permissions) return std::nullopt;
    result.start = *start;
    result.end = *end;
    result.permissions = *permissions;
    // Offset, device and inode are skipped; the path follows them.
    if (!scan.number(16) || !scan.number(16) || !scan.literal(':') || !scan.number(16) || !scan.number(10))
        return result;
    std::string_view rest = line.substr(scan.position());
    std::size_t path = rest.find_first_not_of(" \t");
    if (path != std::string_view::npos) result.path = rest.substr(path);
    return result;
}

void readProcessMaps(RunContext& context, std::string_view text, TargetWord pageSize) {
    if (!context.addressSpace || pageSize == 0) return;
    LineReader lines(text, kLineLimit);
    std::string_view line;
    while (lines.next(line)) {
        auto entry = scanMapsLine(line);
        if (!entry || entry->path.empty()) continue;
        if ((entry->start | entry->end) & (pageSize - 1) || entry->start >= entry->end) continue;
        context.addressSpace->nameFromMapsLine(entry->start, entry->end, entry->path);
    }
}

std::uint32_t initProcessMaps(RunContext& context) {
    TargetWord pageSize = kIs64 && context.core ? context.core->pageSize : 4096;
    if (auto file = DbTextFile::open(kProcessMapsFile)) readProcessMaps(context, file->text(), pageSize);
    return 1;
}

}  // namespace coresift

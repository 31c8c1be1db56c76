// Rule 1 of the verdict: a kernel line such as
//   <6>[ 1234.567890] (3)[812:ActivityManager]sig 9 to [4711:com.example] ...
// names the process that sent the crash signal to the crashed thread.
#include <cctype>

#include "analyzer/diagnosis/verdict_rules.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/logs/log_tables.h"

namespace coresift {

namespace {

constexpr std::size_t kSearchFrom = 20;      // the level and time stamp come first
constexpr std::size_t kSenderNameLimit = 15;  // the kernel's task name length

bool isBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f'; }

void skipBlanks(std::string_view text, std::size_t& at) {
    while (at < text.size() && isBlank(text[at])) ++at;
}

// A decimal number as "%d" reads it: blanks, an optional sign, at least one digit. Numbers that
// do not fit 63 bits fail.
bool scanNumber(std::string_view text, std::size_t& at, std::int64_t& value) {
    skipBlanks(text, at);
    std::size_t p = at;
    bool negative = false;
    if (p < text.size() && (text[p] == '-' || text[p] == '+')) negative = text[p++] == '-';
    const std::size_t digits = p;
    std::int64_t v = 0;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
        if (v > (INT64_MAX - 9) / 10) return false;
        v = v * 10 + (text[p++] - '0');
    }
    if (p == digits) return false;
    value = negative ? -v : v;
    at = p;
    return true;
}

bool scanLiteral(std::string_view text, std::size_t& at, std::string_view literal) {
    if (text.substr(at, literal.size()) != literal) return false;
    at += literal.size();
    return true;
}

// "sig %d to [%d:" at `at`.
bool scanDelivery(std::string_view line, std::size_t at, std::int64_t& signal, std::int64_t& target) {
    if (!scanLiteral(line, at, "sig") || !scanNumber(line, at, signal)) return false;
    skipBlanks(line, at);
    if (!scanLiteral(line, at, "to")) return false;
    skipBlanks(line, at);
    return scanLiteral(line, at, "[") && scanNumber(line, at, target) && scanLiteral(line, at, ":");
}

}  // namespace

std::optional<SignalDelivery> findSignalDelivery(const LineTable& kernel, unsigned signal, std::uint32_t tid) {
    for (std::size_t i = 0; i < kernel.size(); ++i) {
        const std::string_view line = kernel.line(i);
        if (line.size() <= kSearchFrom) continue;
        const std::size_t sig = line.find("sig", kSearchFrom);
        if (sig == std::string_view::npos) continue;
        std::int64_t sent = 0, target = 0;
        if (!scanDelivery(line, sig, sent, target)) continue;
        if (sent != static_cast<std::int64_t>(signal) || target != static_cast<std::int64_t>(tid)) continue;
        const std::size_t bracket = line.rfind('[', sig);
        if (bracket == std::string_view::npos || bracket == 0) continue;
        std::size_t at = bracket + 1;
        SignalDelivery delivery;
        if (!scanNumber(line, at, delivery.senderId) || !scanLiteral(line, at, ":")) continue;
        delivery.line = i;
        std::string_view name = line.substr(at);
        name = name.substr(0, name.find(']'));
        delivery.senderName.assign(name.substr(0, kSenderNameLimit));
        return delivery;
    }
    return std::nullopt;
}

bool writeSignalSender(const SignalDelivery& delivery, std::uint32_t tid, unsigned signal, ReportWriter& report) {
    if (delivery.senderId == static_cast<std::int64_t>(tid)) return false;
    report.print(Msg::SignalSentByProcess, delivery.senderName, static_cast<int>(delivery.senderId),
                 static_cast<int>(signal));
    return true;
}

}  // namespace coresift

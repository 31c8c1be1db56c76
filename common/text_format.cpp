#include "common/text_format.h"

#include <cstdio>

// Each conversion is handed to snprintf with a conversion text this file built itself and an
// argument of exactly the type that conversion names; the formats are not literals by design.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace common {
namespace {

// One parsed conversion, e.g. "%-08llX".
struct Directive {
    std::string flags;
    bool starWidth = false;
    std::string width;
    bool hasPrecision = false;
    bool starPrecision = false;
    std::string precision;
    int lengthBits = 32;  // 8/16 for hh/h are treated as 32 (promotion); 64 for l/ll/j/z/t
    char letter = 0;
};

bool isFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Parses the conversion starting right after '%'. Returns the index after it, or npos.
std::size_t parseDirective(std::string_view f, std::size_t i, Directive& s) {
    while (i < f.size() && isFlag(f[i])) s.flags += f[i++];
    if (i < f.size() && f[i] == '*') { s.starWidth = true; ++i; }
    while (i < f.size() && isDigit(f[i])) s.width += f[i++];
    if (i < f.size() && f[i] == '.') {
        s.hasPrecision = true;
        ++i;
        if (i < f.size() && f[i] == '*') { s.starPrecision = true; ++i; }
        while (i < f.size() && isDigit(f[i])) s.precision += f[i++];
    }
    while (i < f.size()) {
        char c = f[i];
        if (c == 'h') { ++i; continue; }
        if (c == 'l' || c == 'j' || c == 'z' || c == 't' || c == 'L') { s.lengthBits = 64; ++i; continue; }
        break;
    }
    if (i >= f.size()) return std::string_view::npos;
    s.letter = f[i];
    switch (s.letter) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c': case 's': case 'p':
        case 'f': case 'F': case 'g': case 'G': case 'e': case 'E': case '%':
            return i + 1;
        default:
            return std::string_view::npos;
    }
}

bool isIntegerLetter(char c) {
    return c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'X' || c == 'o';
}

class Formatter {
public:
    Formatter(FormatResult& out, const FormatArg* args, std::size_t count)
        : out_(out), args_(args), count_(count) {}

    void run(std::string_view f) {
        for (std::size_t i = 0; i < f.size();) {
            std::size_t pct = f.find('%', i);
            if (pct == std::string_view::npos) { out_.text.append(f.substr(i)); break; }
            out_.text.append(f.substr(i, pct - i));
            Directive s;
            std::size_t next = parseDirective(f, pct + 1, s);
            if (next == std::string_view::npos) {  // malformed: print the rest literally
                out_.text.append(f.substr(pct));
                ++out_.mismatches;
                break;
            }
            emit(s);
            i = next;
        }
        if (used_ != count_) ++out_.mismatches;
    }

private:
    const FormatArg* take() {
        if (used_ >= count_) { ++out_.mismatches; return nullptr; }
        return &args_[used_++];
    }

    int takeInt() {
        const FormatArg* a = take();
        if (!a) return 0;
        if (a->kind != FormatArg::Kind::Signed && a->kind != FormatArg::Kind::Unsigned) { ++out_.mismatches; return 0; }
        if (a->bits > 32) ++out_.mismatches;
        return static_cast<int>(static_cast<std::uint32_t>(a->u));
    }

    void emit(const Directive& s) {
        if (s.letter == '%') { out_.text += '%'; return; }
        int width = s.starWidth ? takeInt() : 0;
        int precision = s.starPrecision ? takeInt() : 0;
        std::string pattern = "%" + s.flags;
        pattern += s.starWidth ? "*" : s.width;
        if (s.hasPrecision) pattern += "." + (s.starPrecision ? std::string("*") : s.precision);

        const FormatArg* a = take();
        char buf[512];
        int n = 0;
        if (isIntegerLetter(s.letter)) {
            std::uint64_t raw = 0;
            if (a && (a->kind == FormatArg::Kind::Signed || a->kind == FormatArg::Kind::Unsigned)) {
                raw = a->u;
                if (a->bits != s.lengthBits) ++out_.mismatches;
            } else if (a) {
                ++out_.mismatches;
            }
            bool isSigned = s.letter == 'd' || s.letter == 'i';
            if (s.lengthBits == 64) {
                pattern += "ll";
                pattern += s.letter;
                n = isSigned ? printInt(buf, pattern, s, width, precision, static_cast<long long>(raw))
                             : printInt(buf, pattern, s, width, precision, static_cast<unsigned long long>(raw));
            } else {
                pattern += s.letter;
                n = isSigned ? printInt(buf, pattern, s, width, precision, static_cast<int>(static_cast<std::uint32_t>(raw)))
                             : printInt(buf, pattern, s, width, precision, static_cast<unsigned>(raw));
            }
        } else if (s.letter == 'c') {
            int c = 0;
            if (a && (a->kind == FormatArg::Kind::Signed || a->kind == FormatArg::Kind::Unsigned)) c = static_cast<int>(static_cast<std::uint32_t>(a->u));
            else if (a) ++out_.mismatches;
            pattern += 'c';
            n = printInt(buf, pattern, s, width, precision, c);
        } else if (s.letter == 's') {
            const char* text = "(null)";
            if (a && a->kind == FormatArg::Kind::Text) { if (a->s) text = a->s; }
            else if (a) ++out_.mismatches;
            pattern += 's';
            appendText(pattern, s, width, precision, text);
            return;
        } else if (s.letter == 'p') {
            std::uint64_t v = a ? a->u : 0;
            pattern += "llx";
            n = printInt(buf, pattern, s, width, precision, static_cast<unsigned long long>(v));
        } else {  // floating point
            double d = 0;
            if (a && a->kind == FormatArg::Kind::Real) d = a->d;
            else if (a) ++out_.mismatches;
            pattern += s.letter;
            n = printInt(buf, pattern, s, width, precision, d);
        }
        if (n > 0) out_.text.append(buf, static_cast<std::size_t>(n) < sizeof buf ? n : sizeof buf - 1);
    }

    template <class V>
    static int printInt(char (&buf)[512], const std::string& pattern, const Directive& s, int width, int precision, V v) {
        if (s.starWidth && s.starPrecision) return std::snprintf(buf, sizeof buf, pattern.c_str(), width, precision, v);
        if (s.starWidth) return std::snprintf(buf, sizeof buf, pattern.c_str(), width, v);
        if (s.starPrecision) return std::snprintf(buf, sizeof buf, pattern.c_str(), precision, v);
        return std::snprintf(buf, sizeof buf, pattern.c_str(), v);
    }

    // Strings may be longer than any fixed buffer: measure first.
    void appendText(const std::string& pattern, const Directive& s, int width, int precision, const char* text) {
        char probe[1];
        int n = printText(probe, 1, pattern, s, width, precision, text);
        if (n <= 0) return;
        std::size_t at = out_.text.size();
        out_.text.resize(at + static_cast<std::size_t>(n) + 1);
        printText(&out_.text[at], static_cast<std::size_t>(n) + 1, pattern, s, width, precision, text);
        out_.text.resize(at + static_cast<std::size_t>(n));
    }

    static int printText(char* buf, std::size_t size, const std::string& pattern, const Directive& s, int width, int precision,
                         const char* text) {
        if (s.starWidth && s.starPrecision) return std::snprintf(buf, size, pattern.c_str(), width, precision, text);
        if (s.starWidth) return std::snprintf(buf, size, pattern.c_str(), width, text);
        if (s.starPrecision) return std::snprintf(buf, size, pattern.c_str(), precision, text);
        return std::snprintf(buf, size, pattern.c_str(), text);
    }

    FormatResult& out_;
    const FormatArg* args_;
    std::size_t count_;
    std::size_t used_ = 0;
};

}  // namespace

void formatInto(FormatResult& out, const char* format, const FormatArg* args, std::size_t count) {
    Formatter(out, args, count).run(format ? std::string_view(format) : std::string_view());
}

bool parseConversions(std::string_view f, std::vector<Conversion>& out) {
    out.clear();
    for (std::size_t i = 0; i < f.size();) {
        std::size_t pct = f.find('%', i);
        if (pct == std::string_view::npos) break;
        Directive s;
        std::size_t next = parseDirective(f, pct + 1, s);
        if (next == std::string_view::npos) return false;
        if (s.letter != '%') {
            std::uint8_t bits = (isIntegerLetter(s.letter) || s.letter == 'p') ? static_cast<std::uint8_t>(s.lengthBits) : 0;
            out.push_back(Conversion{s.letter, bits, s.starWidth, s.starPrecision});
        }
        i = next;
    }
    return true;
}

}  // namespace common

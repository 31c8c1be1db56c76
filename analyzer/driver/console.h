// Console output of the analyzer: plain progress lines on standard output, and printMessage,
// the one printer of coloured errors and warnings.
#pragma once

#include <cstdio>

#include "analyzer/driver/messages.h"
#include "common/text_format.h"

namespace coresift {

// printMessage flags.
inline constexpr unsigned kToStdout = 0x2;  // clear: standard error
inline constexpr unsigned kYellow = 0x1;    // clear: red

inline constexpr int kNoPrefix = -1;

class Console {
public:
    Console(std::FILE* out, std::FILE* err, const MessageCatalog& catalog) : out_(out), err_(err), catalog_(catalog) {}

    std::FILE* out() const { return out_; }
    std::FILE* err() const { return err_; }
    const char* text(Msg id) const { return catalog_.text(id); }

    // Prints `format` with the arguments, after the prefix message (`prefixId`, or kNoPrefix), in
    // red or yellow, on standard error or standard output as `flags` say.
    template <class... A>
    void printMessage(unsigned flags, int prefixId, const char* format, const A&... args) {
        emitMessage(flags, prefixId, common::format(format, args...));
    }
    template <class... A>
    void printMessage(unsigned flags, int prefixId, Msg id, const A&... args) {
        printMessage(flags, prefixId, text(id), args...);
    }

    // The two common forms: red "Error: " and yellow "Warning: " on standard error.
    template <class... A>
    void error(Msg id, const A&... args) { printMessage(0, static_cast<int>(Msg::ErrorPrefix), id, args...); }
    template <class... A>
    void warning(Msg id, const A&... args) { printMessage(kYellow, static_cast<int>(Msg::WarningPrefix), id, args...); }

    // A plain, uncoloured line on standard output.
    template <class... A>
    void print(const char* format, const A&... args) { emit(out_, common::format(format, args...)); }
    template <class... A>
    void print(Msg id, const A&... args) { print(text(id), args...); }

    // Conversions printed with an argument of the wrong kind or width so far (tests insist on 0).
    unsigned formatMismatches() const { return mismatches_; }

private:
    void emitMessage(unsigned flags, int prefixId, const common::FormatResult& message);
    void emit(std::FILE* stream, const common::FormatResult& text);

    std::FILE* out_;
    std::FILE* err_;
    const MessageCatalog& catalog_;
    unsigned mismatches_ = 0;
};

}  // namespace coresift

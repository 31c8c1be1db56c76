// The Dispatcher's console output: progress and prompts on standard output, errors on standard
// error as message 1 followed by the message.
#pragma once

#include <cstdio>

#include "common/text_format.h"
#include "dispatcher/messages.h"

namespace dispatcher {

class Console {
public:
    Console(std::FILE* out, std::FILE* err, const MessageCatalog& catalog) : out_(out), err_(err), catalog_(catalog) {}

    std::FILE* out() const { return out_; }
    std::FILE* err() const { return err_; }
    const char* text(Msg id) const { return catalog_.text(id); }

    // Message `id` with its arguments on standard output.
    template <class... A>
    void print(Msg id, const A&... args) {
        emit(out_, common::format(text(id), args...));
    }

    // "Error: " then message `id` with its arguments on standard error.
    template <class... A>
    void error(Msg id, const A&... args) {
        common::FormatResult line = common::format(text(Msg::ErrorPrefix));
        common::FormatResult message = common::format(text(id), args...);
        line.text += message.text;
        line.mismatches += message.mismatches;
        emit(err_, line);
    }

    // Conversions printed with an argument of the wrong kind so far (tests insist on 0).
    unsigned formatMismatches() const { return mismatches_; }

private:
    void emit(std::FILE* stream, const common::FormatResult& text);

    std::FILE* out_;
    std::FILE* err_;
    const MessageCatalog& catalog_;
    unsigned mismatches_ = 0;
};

}  // namespace dispatcher

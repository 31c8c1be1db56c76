#include "analyzer/driver/console.h"

#include <cassert>

#include "platform/console.h"

namespace coresift {

void Console::emit(std::FILE* stream, const common::FormatResult& text) {
    assert(text.mismatches == 0 && "format and arguments disagree");
    mismatches_ += text.mismatches;
    std::fwrite(text.text.data(), 1, text.text.size(), stream);
}

void Console::emitMessage(unsigned flags, int prefixId, const common::FormatResult& message) {
    std::FILE* stream = (flags & kToStdout) ? out_ : err_;
    std::fflush(out_);  // keep the order of lines when both streams go to one place
    platform::ColourScope colour(stream, (flags & kYellow) ? platform::Colour::Yellow : platform::Colour::Red);
    if (prefixId >= 0) std::fputs(text(static_cast<Msg>(prefixId)), stream);
    emit(stream, message);
    std::fflush(stream);
}

}  // namespace coresift

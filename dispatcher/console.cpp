#include "dispatcher/console.h"

#include <cassert>

namespace dispatcher {

void Console::emit(std::FILE* stream, const common::FormatResult& text) {
    assert(text.mismatches == 0 && "format and arguments disagree");
    mismatches_ += text.mismatches;
    std::fwrite(text.text.data(), 1, text.text.size(), stream);
    std::fflush(stream);
}

}  // namespace dispatcher

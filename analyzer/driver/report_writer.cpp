#include "analyzer/driver/report_writer.h"

#include <cassert>

namespace coresift {

void ReportWriter::emit(const common::FormatResult& text) {
    assert(text.mismatches == 0 && "format and arguments disagree");
    mismatches_ += text.mismatches;
    if (file_) std::fwrite(text.text.data(), 1, text.text.size(), file_);
    else collected_ += text.text;
}

}  // namespace coresift

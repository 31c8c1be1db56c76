// The open exception report: section writers print catalog messages and literal lines into it.
// Nothing of the report is echoed to the console.
#pragma once

#include <cstdio>
#include <string>

#include "analyzer/driver/messages.h"
#include "common/text_format.h"

namespace coresift {

class ReportWriter {
public:
    // Writes into `file`, opened for text writing (each "\n" becomes the platform's line end).
    ReportWriter(std::FILE* file, const MessageCatalog& catalog) : file_(file), catalog_(catalog) {}
    // Collects the text in memory instead (collected()).
    explicit ReportWriter(const MessageCatalog& catalog) : catalog_(catalog) {}
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    template <class... A>
    void print(const char* format, const A&... args) { emit(common::format(format, args...)); }
    template <class... A>
    void print(Msg id, const A&... args) { print(text(id), args...); }

    const char* text(Msg id) const { return catalog_.text(id); }
    const MessageCatalog& catalog() const { return catalog_; }

    // The text written so far when collecting in memory.
    const std::string& collected() const { return collected_; }
    // Conversions printed with an argument of the wrong kind or width so far (tests insist on 0).
    unsigned formatMismatches() const { return mismatches_; }

private:
    void emit(const common::FormatResult& text);

    std::FILE* file_ = nullptr;
    const MessageCatalog& catalog_;
    std::string collected_;
    unsigned mismatches_ = 0;
};

}  // namespace coresift

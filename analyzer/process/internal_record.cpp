#include "analyzer/process/internal_record.h"

#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/db_text.h"

namespace coresift {

namespace {
constexpr std::size_t kLineLimit = 1023;
}  // namespace

std::optional<std::string> exceptionTimeOf(std::string_view record) {
    std::string_view line;
    if (!LineReader(record, kLineLimit).next(line)) return std::nullopt;
    for (int i = 0; i < 6; ++i) nextField(line, ',');
    // The seventh field is often empty; the field rule would skip the comma run and shift the
    // rest by one, so an empty seventh field is consumed as just its comma.
    if (!line.empty() && line.front() == ',') line.remove_prefix(1);
    else nextField(line, ',');
    nextField(line, ',');
    std::string_view time = nextField(line, ',');
    if (time.empty()) return std::nullopt;
    return std::string(time);
}

void readInternalRecord(RunContext& context) {
    if (!context.core) return;
    auto file = DbTextFile::open(kInternalRecordFile);
    if (!file) return;
    if (auto time = exceptionTimeOf(file->text())) context.core->exceptionTime = std::move(*time);
}

}  // namespace coresift

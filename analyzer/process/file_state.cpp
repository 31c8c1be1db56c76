#include "analyzer/process/file_state.h"

#include <memory>
#include <new>

#include "analyzer/driver/android_version.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/db_text.h"
#include "common/decimal.h"

namespace coresift {

namespace {

constexpr std::size_t kLineLimit = 4095;
constexpr unsigned kAndroidN = 9;

struct Columns {
    int number;  // 1-based field of the descriptor number
    int path;    // 1-based field of the path
};

Columns columnsFor(unsigned androidVersion) { return androidVersion < kAndroidN ? Columns{6, 8} : Columns{8, 10}; }

// One listing line ("lrwx------ ... 3 -> /dev/null") as a record; nothing when it has no path.
std::optional<FdRecord> parseLine(std::string_view line, Columns columns) {
    FdRecord record;
    std::string_view permissions = nextField(line, ' ');
    if (permissions.size() > 1 && permissions[1] == 'r') record.access |= fd_access::kRead;
    if (permissions.size() > 2 && permissions[2] == 'w') record.access |= fd_access::kWrite;
    std::string_view path;
    for (int field = 2; field <= columns.path; ++field) {
        std::string_view text = nextField(line, ' ');
        if (field == columns.number) record.fd = static_cast<std::uint32_t>(common::readDecimal(text));
        if (field == columns.path) path = text;
    }
    if (path.empty()) return std::nullopt;
    record.path = std::string(path);
    return record;
}

}  // namespace

FdTable::AddResult FdTable::add(FdRecord record) {
    std::uint32_t fd = record.fd;
    auto sameFd = [](const FdRecord&) { return true; };
    if (table_.find(fd, sameFd)) return AddResult::Duplicate;
    std::unique_ptr<FdRecord> stored(new (std::nothrow) FdRecord);
    if (!stored) return AddResult::OutOfMemory;
    *stored = std::move(record);
    return table_.insert(fd, std::move(stored), sameFd).value ? AddResult::Added : AddResult::OutOfMemory;
}

const FdRecord* FdTable::find(std::uint32_t fd) const {
    return table_.find(fd, [](const FdRecord&) { return true; });
}

int FdTable::forEach(const std::function<int(const FdRecord&)>& visit) const { return table_.forEach(visit); }

void readFileState(RunContext& context, std::string_view text, unsigned androidVersion, FdTable& table) {
    Columns columns = columnsFor(androidVersion);
    LineReader lines(text, kLineLimit);
    std::string_view line;
    while (lines.next(line)) {
        std::optional<FdRecord> record;
        try {
            record = parseLine(line, columns);
        } catch (const std::bad_alloc&) {
            context.console.warning(Msg::OutOfMemory);
            return;
        }
        if (!record) continue;
        std::uint32_t fd = record->fd;
        switch (table.add(std::move(*record))) {
            case FdTable::AddResult::Added:
                break;
            case FdTable::AddResult::Duplicate:
                context.console.error(Msg::DuplicateFd, static_cast<int>(fd));
                return;
            case FdTable::AddResult::OutOfMemory:
                context.console.warning(Msg::OutOfMemory);
                return;
        }
    }
}

std::uint32_t initFileState(RunContext& context) {
    auto file = DbTextFile::open(kFileStateFile);
    if (!file) return 0;
    std::unique_ptr<FdTable> table;
    try {
        table = std::make_unique<FdTable>();
    } catch (const std::bad_alloc&) {
        context.console.warning(Msg::OutOfMemory);
        return 0;
    }
    readFileState(context, file->text(), androidVersion(context), *table);
    context.fdTable = std::move(table);
    return 1;
}

void cleanupFileState(RunContext& context) { context.fdTable.reset(); }

}  // namespace coresift

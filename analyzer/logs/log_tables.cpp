#include "analyzer/logs/log_tables.h"

#include <limits>
#include <memory>
#include <utility>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/db_text.h"

namespace coresift {

namespace {

constexpr std::size_t kKernelMinimumLength = 20;
constexpr std::size_t kAndroidMinimumLength = 19;

LogTables& tablesOf(RunContext& context) {
    if (!context.logs) context.logs = std::make_unique<LogTables>();
    return *context.logs;
}

// Reads `name` into `table`; true when the file was there.
bool loadFile(LineTable& table, const char* name) {
    std::optional<DbTextFile> file = DbTextFile::open(name);
    if (!file) return false;
    table.load(std::move(*file));
    return true;
}

void dropWhenEmpty(RunContext& context) {
    if (context.logs && context.logs->kernel.empty() && context.logs->android.empty()) context.logs.reset();
}

}  // namespace

bool LineTable::keeps(std::string_view line) const {
    if (kind_ == Kind::Kernel) return line.size() >= kKernelMinimumLength && line.front() == '<';
    return line.size() >= kAndroidMinimumLength && line.front() >= '0' && line.front() <= '9';
}

void LineTable::load(std::string_view text) {
    clear();
    buffer_.assign(text);
    index(buffer_);
}

void LineTable::load(DbTextFile file) {
    clear();
    file_ = std::move(file);
    index(file_->text());
}

// The text before the first newline is never kept: a capture starts in the middle of a line.
void LineTable::index(std::string_view text) {
    const std::size_t firstNewline = text.find('\n');
    if (firstNewline == std::string_view::npos) return;
    LineReader reader(text.substr(firstNewline + 1), std::numeric_limits<std::size_t>::max());
    std::string_view line;
    while (reader.next(line))
        if (keeps(line)) lines_.push_back(line);
}

void LineTable::clear() {
    lines_.clear();
    file_.reset();
    buffer_.clear();
    buffer_.shrink_to_fit();
}

int LineTable::forEach(const std::function<int(std::string_view)>& visit) const {
    for (std::string_view line : lines_)
        if (int result = visit(line)) return result;
    return 0;
}

std::uint32_t initKernelLog(RunContext& context) {
    LogTables& tables = tablesOf(context);
    tables.signalDeliveryLine = -1;
    loadFile(tables.kernel, kKernelLogFile);
    return 1;
}

std::uint32_t initAndroidLog(RunContext& context) {
    LogTables& tables = tablesOf(context);
    if (!loadFile(tables.android, kAndroidLogFile)) loadFile(tables.android, kAndroidLogFallback);
    return 1;
}

void cleanupKernelLog(RunContext& context) {
    if (context.logs) context.logs->kernel.clear();
    dropWhenEmpty(context);
}

void cleanupAndroidLog(RunContext& context) {
    if (context.logs) context.logs->android.clear();
    dropWhenEmpty(context);
}

int forEachKernelLine(const RunContext& context, const std::function<int(std::string_view)>& visit) {
    return context.logs ? context.logs->kernel.forEach(visit) : 0;
}

int forEachAndroidLine(const RunContext& context, const std::function<int(std::string_view)>& visit) {
    return context.logs ? context.logs->android.forEach(visit) : 0;
}

}  // namespace coresift

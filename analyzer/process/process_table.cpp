#include "analyzer/process/process_table.h"

#include <optional>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/db_text.h"
#include "common/decimal.h"

namespace coresift {

namespace {

constexpr std::size_t kLineLimit = 4095;
constexpr std::size_t kMaxColumns = 32;
constexpr int kHeaderNames = 9;

enum class Column : std::uint8_t { Ignored, User, Tid, Pid, Rss, Nice, RtPriority, Name, State, Policy };

Column columnNamed(std::string_view name) {
    if (name == "USER") return Column::User;
    if (name == "TID") return Column::Tid;
    if (name == "PID") return Column::Pid;
    if (name == "RSS") return Column::Rss;
    if (name == "NI") return Column::Nice;
    if (name == "RTPRI") return Column::RtPriority;
    if (name == "NAME") return Column::Name;
    if (name == "S" || name == "PC") return Column::State;
    if (name == "SCH") return Column::Policy;
    return Column::Ignored;
}

// The columns of a header line, or nothing when it is not a header. Old listings have no TID
// column but "PID PPID", where PID holds the thread id and PPID the process id.
std::optional<std::vector<Column>> headerColumns(std::string_view line) {
    std::vector<Column> columns;
    int recognised = 0;
    std::string_view previous;
    for (std::size_t i = 0; i < kMaxColumns; ++i) {
        std::string_view name = nextField(line, ' ');
        if (name.empty()) break;
        Column column = columnNamed(name);
        if (name == "PPID" && previous == "PID") {
            columns.back() = Column::Tid;
            column = Column::Pid;
        }
        if (column != Column::Ignored) ++recognised;
        columns.push_back(column);
        previous = name;
    }
    if (recognised != kHeaderNames) return std::nullopt;
    return columns;
}

struct Row {
    std::string_view user;
    std::string_view name;
    std::uint32_t tid = 0;
    std::uint32_t pid = 0;
    std::uint32_t rss = 0;
    int nice = 0;
    int rtPriority = 0;
    char state = 0;
    std::uint32_t policy = kPolicyUnknown;
};

std::uint32_t unsignedField(std::string_view field) { return static_cast<std::uint32_t>(common::readDecimal(field)); }

Row parseRow(std::string_view line, const std::vector<Column>& columns) {
    Row row;
    for (Column column : columns) {
        std::string_view field = nextField(line, ' ');
        if (field.empty()) break;
        switch (column) {
            case Column::Ignored: break;
            case Column::User: row.user = field; break;
            case Column::Tid: row.tid = unsignedField(field); break;
            case Column::Pid: row.pid = unsignedField(field); break;
            case Column::Rss: row.rss = unsignedField(field); break;
            case Column::Nice: row.nice = common::readDecimal(field); break;
            case Column::RtPriority: row.rtPriority = common::readDecimal(field); break;
            case Column::Name: row.name = field; break;
            case Column::Policy: row.policy = unsignedField(field); break;
            case Column::State:
                // Old listings print the program counter ("00000000 S") in this column; the
                // state letter is then the next field.
                if (field.size() > 1) field = nextField(line, ' ');
                row.state = field.empty() ? '\0' : field.front();
                break;
        }
    }
    return row;
}

void applyRow(CoreDump& core, const Row& row) {
    if (row.tid == core.ppid) {
        core.parentName = std::string(row.name);
        return;
    }
    if (row.tid == core.pid) {
        core.processUser = std::string(row.user);
        core.residentSize = row.rss;
    } else if (row.pid != core.pid) {
        return;
    }
    ThreadRecord* thread = core.threads.find(row.tid);
    if (!thread) return;
    if (!row.name.empty()) thread->name = std::string(row.name);
    thread->setState(threadStateOf(row.state));
    std::int64_t priority = row.rtPriority != 0 ? row.rtPriority : std::int64_t{kDefaultPriority} + row.nice;
    thread->priority = static_cast<std::uint32_t>(priority);
    thread->setPolicy(row.policy);
}

}  // namespace

std::uint32_t threadStateOf(char letter) {
    static constexpr char kLetters[] = "RSDTtZXxKW";
    for (std::uint32_t i = 0; kLetters[i]; ++i)
        if (letter == kLetters[i]) return i;
    return kStateUnknown;
}

void readProcessTable(RunContext& context, std::string_view text) {
    if (!context.core) return;
    LineReader lines(text, kLineLimit);
    std::string_view line;
    if (!lines.next(line)) return;
    auto columns = headerColumns(line);
    if (!columns && lines.next(line)) columns = headerColumns(line);
    if (!columns) {
        context.console.warning(Msg::UnrecognizedProcessTable);
        return;
    }
    while (lines.next(line)) applyRow(*context.core, parseRow(line, *columns));
}

std::uint32_t initProcessTable(RunContext& context) {
    if (auto file = DbTextFile::open(kProcessTableFile)) readProcessTable(context, file->text());
    return 0;
}

}  // namespace coresift

// The device's kernel log and Android log as line tables: each file mapped at the start of the
// run, the lines worth looking at kept in file order. The crash diagnosis reads the kernel
// lines (was the signal sent by another process?); the report's log section reads both.
//
// A kernel line is kept when it starts with '<' and is longer than 19 characters; an Android line
// when it starts with a decimal digit and is longer than 18 characters. The text before the first
// newline of a file is never kept (a capture starts in the middle of a line). Lines are cut at
// their first NUL byte and lose a carriage return before the newline, as the other db files do.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/process/db_text.h"

namespace coresift {

struct RunContext;

class LineTable {
public:
    enum class Kind : std::uint8_t { Kernel, Android };

    explicit LineTable(Kind kind) : kind_(kind) {}

    // Keeps the lines of `text` that this table's kind keeps; earlier lines are dropped. A file
    // is read through its mapping, which the table keeps; other text is copied.
    void load(std::string_view text);
    void load(DbTextFile file);
    void clear();

    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    std::string_view line(std::size_t index) const { return lines_[index]; }

    // Calls `visit` for each kept line in order; the first non-zero result ends the walk and is
    // returned.
    int forEach(const std::function<int(std::string_view line)>& visit) const;

private:
    bool keeps(std::string_view line) const;
    void index(std::string_view text);

    Kind kind_;
    std::optional<DbTextFile> file_;  // the mapped log file the lines point into, or
    std::string buffer_;              // the copied text they point into
    std::vector<std::string_view> lines_;
};

struct LogTables {
    LineTable kernel{LineTable::Kind::Kernel};
    LineTable android{LineTable::Kind::Android};
    // Index into the kernel lines of the line that delivered the crash signal, as the crash
    // diagnosis found it; -1 when there is none.
    long signalDeliveryLine = -1;
};

// The db files the tables are read from.
inline constexpr const char* kKernelLogFile = "SYS_KERNEL_LOG";
inline constexpr const char* kAndroidLogFile = "SYS_ANRDOID_LOG_ALL";  // the device's own spelling
inline constexpr const char* kAndroidLogFallback = "SYS_ANDROID_LOG";

// Phase-1 steps: read the kernel log, read the Android log (the full capture when the db has it,
// else the main log). A missing file leaves its table empty; nothing is printed.
std::uint32_t initKernelLog(RunContext& context);
std::uint32_t initAndroidLog(RunContext& context);
void cleanupKernelLog(RunContext& context);
void cleanupAndroidLog(RunContext& context);

// Walks the run's kernel or Android lines (none when the tables were not read).
int forEachKernelLine(const RunContext& context, const std::function<int(std::string_view line)>& visit);
int forEachAndroidLine(const RunContext& context, const std::function<int(std::string_view line)>& visit);

}  // namespace coresift

// PROCESS_FILE_STATE: the process's open file descriptors as the device listed them, kept in a
// table keyed by descriptor number for the file descriptor check.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "analyzer/process/hash_table.h"

namespace coresift {

struct RunContext;

inline constexpr const char* kFileStateFile = "PROCESS_FILE_STATE";

namespace fd_access {
inline constexpr std::uint32_t kRead = 0x1;
inline constexpr std::uint32_t kWrite = 0x2;
}  // namespace fd_access

struct FdRecord {
    std::uint32_t fd = 0;
    std::uint32_t access = 0;  // fd_access bits
    std::string path;
};

class FdTable {
public:
    static constexpr std::size_t kInitialSlots = 128;

    FdTable() : table_(kInitialSlots) {}

    enum class AddResult { Added, Duplicate, OutOfMemory };
    AddResult add(FdRecord record);

    const FdRecord* find(std::uint32_t fd) const;
    std::size_t size() const { return table_.size(); }
    // Visits the records in slot order; a non-zero visitor result stops the walk and is returned.
    int forEach(const std::function<int(const FdRecord&)>& visit) const;

private:
    HashTable<FdRecord> table_;
};

// Fills `table` from the file's text. The columns depend on the Android release: before N
// (`androidVersion` below 9) the number is the sixth blank-separated field and the path the
// eighth; from N on the eighth and the tenth. A descriptor listed twice prints error 43 and ends
// the reading; out of memory prints warning 19 and ends it. The records read so far stay.
void readFileState(RunContext& context, std::string_view text, unsigned androidVersion, FdTable& table);

// Phase-1 step: builds the run's descriptor table when the file exists. Non-zero when a table
// was built; the clean-up frees it.
std::uint32_t initFileState(RunContext& context);
void cleanupFileState(RunContext& context);

}  // namespace coresift

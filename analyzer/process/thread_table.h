// The threads of the dead process, keyed by tid. Walks visit threads in the table's slot order
// (tid & (slots - 1), then probing order), which is the order of "all threads" everywhere in the
// analyzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "analyzer/process/hash_table.h"
#include "analyzer/process/thread_record.h"

namespace coresift {

class ThreadTable {
public:
    static constexpr std::size_t kInitialSlots = 128;

    ThreadTable() : table_(kInitialSlots) {}
    ~ThreadTable();
    ThreadTable(const ThreadTable&) = delete;
    ThreadTable& operator=(const ThreadTable&) = delete;

    enum class AddResult { Added, DuplicateTid, OutOfMemory };
    // Adds a thread; on success `*stored` points at the record kept by the table.
    AddResult add(std::unique_ptr<ThreadRecord> thread, ThreadRecord** stored = nullptr);

    ThreadRecord* find(std::uint32_t tid) const;
    std::size_t count() const { return table_.size(); }
    std::size_t slotCount() const { return table_.slotCount(); }

    // Visits every thread in slot order; a non-zero visitor result stops the walk and is returned.
    int forEach(const std::function<int(ThreadRecord&)>& visit) const;

    // Releases a thread's Java data when the table is destroyed (installed by the Java walker).
    using JavaRelease = std::function<void(JavaThreadData*)>;
    void setJavaRelease(JavaRelease release) { javaRelease_ = std::move(release); }

private:
    HashTable<ThreadRecord> table_;
    JavaRelease javaRelease_;
};

}  // namespace coresift

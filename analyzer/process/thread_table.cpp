#include "analyzer/process/thread_table.h"

namespace coresift {

ThreadTable::~ThreadTable() {
    table_.forEach([this](ThreadRecord& thread) {
        if (thread.javaData && javaRelease_) javaRelease_(thread.javaData);
        thread.javaData = nullptr;
        return 0;
    });
}

ThreadTable::AddResult ThreadTable::add(std::unique_ptr<ThreadRecord> thread, ThreadRecord** stored) {
    std::uint32_t tid = thread->tid;
    if (table_.find(tid, [](const ThreadRecord&) { return true; })) return AddResult::DuplicateTid;
    auto inserted = table_.insert(tid, std::move(thread), [](const ThreadRecord&) { return true; });
    if (!inserted.value) return AddResult::OutOfMemory;
    if (stored) *stored = inserted.value;
    return AddResult::Added;
}

ThreadRecord* ThreadTable::find(std::uint32_t tid) const {
    return table_.find(tid, [](const ThreadRecord&) { return true; });
}

int ThreadTable::forEach(const std::function<int(ThreadRecord&)>& visit) const {
    return table_.forEach(visit);
}

}  // namespace coresift

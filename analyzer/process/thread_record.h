// One thread of the dead process: created from its NT_PRSTATUS note by the coredump loader,
// completed from the db's process table, given Java data by the Java stack walker.
#pragma once

#include <cstdint>
#include <string>

#include "analyzer/process/register_set.h"
#include "common/target_word.h"

namespace coresift {

struct JavaThreadData;  // owned by the Java stack walker, released through the thread table's hook

namespace thread_flag {
inline constexpr std::uint32_t kMain = 0x1;     // the process's main thread
inline constexpr std::uint32_t kFirst = 0x2;    // first NT_PRSTATUS of the dump: took the signal
inline constexpr std::uint32_t kPrinted = 0x4;  // already printed in the thread report
}  // namespace thread_flag

inline constexpr std::uint32_t kDefaultPriority = 120;
inline constexpr std::uint32_t kPolicyUnknown = 6;   // 0 normal ... 5 idle, 6 unknown
inline constexpr std::uint32_t kStateUnknown = 10;   // 0 running ... 9 waking up, 10 unknown

struct ThreadRecord {
    std::string name;  // empty: no name known
    std::uint32_t tid = 0;
    std::uint32_t priority = kDefaultPriority;
    std::uint32_t policy = kPolicyUnknown;
    std::uint32_t state = kStateUnknown;
    std::uint32_t flags = 0;
    RegisterSet registers;
    TargetWord tls = 0;
    JavaThreadData* javaData = nullptr;

    bool isMain() const { return flags & thread_flag::kMain; }
    bool isFirst() const { return flags & thread_flag::kFirst; }

    // Setters used by the db readers; values out of range become "unknown".
    void setState(std::uint32_t value) { state = value > kStateUnknown ? kStateUnknown : value; }
    void setPolicy(std::uint32_t value) { policy = value > kPolicyUnknown ? kPolicyUnknown : value; }
    // Sets report flags; the main and first-thread bits belong to the loader and are ignored here.
    void setFlags(std::uint32_t bits) { flags |= bits & ~(thread_flag::kMain | thread_flag::kFirst); }
};

}  // namespace coresift

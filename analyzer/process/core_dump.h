// The process record built from the coredump: identity, signal, command line, auxiliary-vector
// values, the thread table, and the memory-management values the TRACE32 script writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analyzer/process/thread_table.h"
#include "common/target_word.h"

namespace coresift {

namespace core_flag {
inline constexpr std::uint32_t kExecutableOnly = 0x1;  // no dynamic linker list: one module, the executable
inline constexpr std::uint32_t kTaggedAddresses = 0x4; // the process used tagged addresses
}  // namespace core_flag

// Translation-table settings handed to the debugger script. CoreSift uses fixed values; CoreSift64
// derives them from the page size and the highest mapped address.
struct DebuggerMmu {
    std::uint64_t translationControl = 0;  // TTBCR / TCR
    std::uint64_t systemControl = 0;       // SCTLR
    std::vector<unsigned> levelIndexBits;  // index bits per table level, first level first
    unsigned levelCountMinusOne = 0;
};

struct CoreDump {
    std::uint32_t flags = 0;
    std::string dumpFileName;
    std::string executablePath;
    std::string processUser;           // from the db's process table
    std::uint32_t residentSize = 0;    // from the db's process table
    std::string commandLine;           // NT_PRPSINFO arguments, trailing blanks cut, at most 79 bytes
    std::string parentName;            // from the db's process table
    std::string exceptionTime;         // from the db's internal record
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint32_t processState = 10;   // index of the thread-state names, 10 unknown
    std::int8_t nice = 0;
    std::uint32_t signal = 0;
    std::uint32_t signalCode = 0;
    TargetWord faultAddress = 0;
    std::uint32_t threadCount = 0;
    ThreadRecord* firstThread = nullptr;  // the thread that took the signal
    ThreadRecord* lastThread = nullptr;   // most recently created: target of NT_ARM_TLS
    ThreadTable threads;
    TargetWord interpreterBase = 0;    // AT_BASE
    TargetWord entryPoint = 0;         // AT_ENTRY
    TargetWord pageSize = 0;           // AT_PAGESZ
    DebuggerMmu mmu;

    // The text after the last '/' of the executable path.
    std::string executableBaseName() const {
        auto slash = executablePath.rfind('/');
        return slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    }
};

}  // namespace coresift

namespace coresift {

// The translation-table settings for a dump with this page size whose highest mapped address
// (exclusive) is `top`. CoreSift: fixed short-descriptor values. CoreSift64: a 39- or 47-bit
// address space with one table level per (page shift - 3) index bits.
DebuggerMmu debuggerMmuFor(TargetWord pageSize, std::uint64_t top);

// The number of address bits the address space uses: 32 on ARM; 39 or 47 on AArch64 as `top`
// needs.
unsigned addressBitsFor(std::uint64_t top);

}  // namespace coresift

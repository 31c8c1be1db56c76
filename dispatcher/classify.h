// Deciding from the files of a db folder which analyzer the db needs.
#pragma once

namespace dispatcher {

enum class DbKind {
    NoExceptionInfo = 0,  // nothing that tells an NE or KE db
    NotAnExceptionDb = 1, // another type of exception
    CoreSift = 2,         // 32-bit native exception
    CoreSift64 = 3,       // 64-bit native exception
    KernSift = 4,         // 32-bit kernel exception
    KernSift64 = 5,       // 64-bit kernel exception
};

// The program that analyzes a db of this kind; null for the first two kinds.
const char* analyzerName(DbKind kind);

enum class ElfProbe { Absent, NotElf, Elf32, Elf64 };

// Probes one file: absent; fewer than 16 bytes or no ELF magic; else its class (2 is 64-bit,
// any other value 32-bit).
ElfProbe probeElf(const char* path);

// Classifies the db in the current folder by the first rule that decides:
//  1. the first process coredump (PROCESS_COREDUMP, PROCESS_MINIDUMP, PROCESS_NCOREDUMP) that is ELF;
//  2. the first kernel dump (SYS_MINI_RDUMP, SYS_COREDUMP) that is ELF;
//  3. the width of the frame pointer printed after ", FP = 0x" in SYS_LAST_CPU_BUS;
//  4. the exception type at the start of ZZ_INTERNAL;
//  5. without ZZ_INTERNAL, the kernel and detail logs present (SYS_LAST_KMSG, _exp_detail.txt,
//     SYS_KERNEL_LOG).
DbKind classifyFolder();

}  // namespace dispatcher

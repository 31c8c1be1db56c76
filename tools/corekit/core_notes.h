// Typed contents of the notes a Linux core holds, in both widths: 32-bit ARM (ELF32, 4-byte words)
// and AArch64 (ELF64, 8-byte words). Each record encodes to the descriptor bytes the kernel writes
// and decodes from such bytes; decoding checks every size and never reads past the descriptor.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_reader.h"

namespace corekit {

enum class CoreArch { Arm32, Arm64 };

inline unsigned wordSize(CoreArch arch) { return arch == CoreArch::Arm64 ? 8 : 4; }
inline std::uint16_t machineOf(CoreArch arch) { return arch == CoreArch::Arm64 ? 183 : 40; }

// Number of general registers in a prstatus register block: r0-r15, cpsr, orig_r0 (ARM);
// x0-x30, sp, pc, pstate (AArch64).
inline unsigned registerCount(CoreArch arch) { return arch == CoreArch::Arm64 ? 34 : 18; }

// NT_PRSTATUS: one per thread; the first one is the thread that took the signal.
struct PrStatus {
    std::int32_t infoSigno = 0;  // pr_info.si_signo
    std::int32_t infoCode = 0;   // pr_info.si_code
    std::int32_t infoErrno = 0;  // pr_info.si_errno
    std::int16_t cursig = 0;     // pr_cursig: the signal being delivered
    std::uint64_t sigpend = 0;
    std::uint64_t sighold = 0;
    std::uint32_t pid = 0;  // the thread's tid
    std::uint32_t ppid = 0;
    std::uint32_t pgrp = 0;
    std::uint32_t sid = 0;
    // utime, stime, cutime, cstime as (seconds, microseconds).
    std::array<std::pair<std::int64_t, std::int64_t>, 4> times{};
    // registerCount(arch) values; missing ones encode as 0, extra ones are an encoding error.
    std::vector<std::uint64_t> regs;
    std::int32_t fpvalid = 0;
};

// Offsets of the register block and its size for each width.
inline unsigned prStatusSize(CoreArch arch) { return arch == CoreArch::Arm64 ? 392 : 148; }
inline unsigned prStatusRegsOffset(CoreArch arch) { return arch == CoreArch::Arm64 ? 112 : 72; }

// NT_PRPSINFO: the process record.
struct PrPsInfo {
    std::uint8_t state = 0;  // pr_state
    char sname = 'R';        // pr_sname
    std::uint8_t zombie = 0;
    std::int8_t nice = 0;
    std::uint64_t flag = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint32_t pgrp = 0;
    std::uint32_t sid = 0;
    std::string fname;   // at most 15 characters are kept (16-byte field with its NUL)
    std::string psargs;  // at most 79 characters are kept (80-byte field with its NUL)
};

// 32-bit ARM has two layouts: 16-bit uid/gid (124 bytes, a native ARM kernel) and 32-bit uid/gid
// (128 bytes, a 64-bit kernel writing for a 32-bit process). AArch64 has one (136 bytes).
enum class PsInfoLayout { Native, WideIds };
unsigned prPsInfoSize(CoreArch arch, PsInfoLayout layout = PsInfoLayout::Native);

// NT_AUXV: (key, value) pairs; the encoder appends the AT_NULL terminator.
using Auxv = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// NT_FILE: the file-backed mappings. `pageOffset` is the file offset in units of `pageSize`,
// as the kernel writes it.
struct FileMapping {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t pageOffset = 0;
    std::string path;
};
struct FileNote {
    std::uint64_t pageSize = 4096;
    std::vector<FileMapping> mappings;
};

// NT_SIGINFO: the kernel's siginfo_t (128 bytes). Fault signals carry an address, signals sent by
// kill/tgkill carry the sender's pid and uid in the same union.
struct SigInfo {
    std::int32_t signo = 0;
    std::int32_t errnum = 0;
    std::int32_t code = 0;
    std::uint64_t addr = 0;  // si_addr (fault signals)
    // For signals sent by a process: when set, encoded instead of addr.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> sender;  // (si_pid, si_uid)
};
inline constexpr unsigned kSigInfoSize = 128;

std::vector<std::uint8_t> encodePrStatus(CoreArch arch, const PrStatus& status);
std::vector<std::uint8_t> encodePrPsInfo(CoreArch arch, const PrPsInfo& info,
                                         PsInfoLayout layout = PsInfoLayout::Native);
std::vector<std::uint8_t> encodeAuxv(CoreArch arch, const Auxv& auxv);
std::vector<std::uint8_t> encodeFileNote(CoreArch arch, const FileNote& note);
std::vector<std::uint8_t> encodeSigInfo(CoreArch arch, const SigInfo& info);
// NT_ARM_TLS: the thread pointer (TPIDRURO on ARM, TPIDR_EL0 on AArch64), one word.
std::vector<std::uint8_t> encodeArmTls(CoreArch arch, std::uint64_t tls);

// Decoders: nothing when the descriptor's size does not fit the layout or a count runs past it.
std::optional<PrStatus> decodePrStatus(CoreArch arch, common::ByteView desc);
std::optional<PrPsInfo> decodePrPsInfo(CoreArch arch, common::ByteView desc);
std::optional<Auxv> decodeAuxv(CoreArch arch, common::ByteView desc);
std::optional<FileNote> decodeFileNote(CoreArch arch, common::ByteView desc);
std::optional<SigInfo> decodeSigInfo(CoreArch arch, common::ByteView desc);
std::optional<std::uint64_t> decodeArmTls(CoreArch arch, common::ByteView desc);

// The value of `key` in an auxiliary vector (the first pair with that key).
std::optional<std::uint64_t> auxvValue(const Auxv& auxv, std::uint64_t key);

}  // namespace corekit

// The coredump's notes: what each note type contributes to the process model.
//
// Every handler reads its descriptor through a bounds-checked view; a descriptor of the wrong
// size, a duplicate thread or an unknown note type gets its message and stops the load.
#pragma once

#include <cstdint>
#include <optional>

#include "common/byte_reader.h"
#include "common/target_word.h"

namespace coresift {

class AddressSpace;
class Console;
struct CoreDump;

namespace note_type {
inline constexpr std::uint32_t kPrStatus = 1;
inline constexpr std::uint32_t kPrFpReg = 2;
inline constexpr std::uint32_t kPrPsInfo = 3;
inline constexpr std::uint32_t kAuxv = 6;
inline constexpr std::uint32_t kArmVfp = 0x400;
inline constexpr std::uint32_t kArmTls = 0x401;
inline constexpr std::uint32_t kArmTaggedAddrCtrl = 0x409;
inline constexpr std::uint32_t kArmPacEnabledKeys = 0x40A;
inline constexpr std::uint32_t kFile = 0x46494C45;
inline constexpr std::uint32_t kSigInfo = 0x53494749;
}  // namespace note_type

namespace auxv_type {
inline constexpr TargetWord kNull = 0;
inline constexpr TargetWord kPageSize = 6;
inline constexpr TargetWord kBase = 7;
inline constexpr TargetWord kEntry = 9;
inline constexpr TargetWord kRandom = 25;
inline constexpr TargetWord kExecFn = 31;
}  // namespace auxv_type

// The state a note walk builds up, beyond the process record itself.
struct NoteWalk {
    Console& console;
    CoreDump& core;
    AddressSpace& space;
    bool sawPrStatus = false;
    bool sawPrPsInfo = false;
};

// Applies one note to the process model. Returns false after printing why the load must stop.
bool handleCoreNote(NoteWalk& walk, std::uint32_t type, common::ByteView descriptor);

// The value of the first `type` entry of an NT_AUXV descriptor (pairs of target words up to the
// terminating type 0), or none.
std::optional<TargetWord> auxvValue(common::ByteView descriptor, TargetWord type);

// Whether the dump's page size is one this build reads (4096; AArch64 also 16384 and 65536).
bool supportedPageSize(TargetWord pageSize);

}  // namespace coresift

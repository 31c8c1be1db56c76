#include "analyzer/process/core_notes.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "analyzer/driver/console.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"

namespace coresift {

namespace {

namespace rk = region_kind;

constexpr std::uint64_t kWord = sizeof(TargetWord);

// Kernel record layouts of the two targets (ARM: 32-bit words and 16- or 32-bit ids; AArch64:
// 64-bit words).
namespace prstatus {
constexpr std::uint64_t kSize = kIs64 ? 392 : 148;
constexpr std::uint64_t kCurSig = 12;  // signed 16-bit
constexpr std::uint64_t kPid = kIs64 ? 32 : 24;
constexpr std::uint64_t kPpid = kIs64 ? 36 : 28;
constexpr std::uint64_t kRegisters = kIs64 ? 112 : 72;  // r0-r15 / x0-x30, sp, pc; then the status word
}  // namespace prstatus

struct PrPsInfoLayout {
    std::uint64_t pid, ppid, args;
};
constexpr std::uint64_t kArgsSize = 80;
constexpr std::uint64_t kStateOffset = 0;
constexpr std::uint64_t kNiceOffset = 3;

// The NT_PRPSINFO layout for a descriptor size, or none when the size is not one of the kernel's.
std::optional<PrPsInfoLayout> prPsInfoLayout(std::uint64_t size) {
    if constexpr (kIs64) {
        if (size == 136) return PrPsInfoLayout{24, 28, 56};
    } else {
        if (size == 124) return PrPsInfoLayout{12, 16, 44};  // 16-bit uid/gid
        if (size == 128) return PrPsInfoLayout{16, 20, 48};  // 32-bit uid/gid
    }
    return std::nullopt;
}

namespace siginfo {
constexpr std::uint64_t kMinSize = kIs64 ? 24 : 16;
constexpr std::uint64_t kSigNo = 0;
constexpr std::uint64_t kCode = 8;
constexpr std::uint64_t kAddress = kIs64 ? 16 : 12;
}  // namespace siginfo

void wrongSize(NoteWalk& walk, const char* note, std::uint64_t size) {
    walk.console.error(Msg::SegmentSizeIncorrect, walk.core.dumpFileName, note, static_cast<std::uint32_t>(size));
}

bool handlePrStatus(NoteWalk& walk, common::ByteView d) {
    if (d.size() != prstatus::kSize) {
        wrongSize(walk, "NT_PRSTATUS", d.size());
        return false;
    }
    auto thread = std::unique_ptr<ThreadRecord>(new (std::nothrow) ThreadRecord);
    if (!thread) {
        walk.console.warning(Msg::OutOfMemory);
        return false;
    }
    thread->tid = *d.read<std::uint32_t>(prstatus::kPid);
    RegisterSet& regs = thread->registers;
    for (unsigned i = 0; i < RegisterSet::kCount; ++i) regs.r[i] = *d.read<TargetWord>(prstatus::kRegisters + i * kWord);
    if constexpr (!kIs64) {
        if (regs.r[RegisterSet::kStatus] & RegisterSet::kThumbBit) regs.r[RegisterSet::kPc] |= 1;
    }
    regs.r[RegisterSet::kStatus] |= RegisterSet::kForcedStatusBits;

    CoreDump& core = walk.core;
    bool first = core.threadCount == 0;
    if (first) thread->flags |= thread_flag::kFirst;
    std::uint32_t tid = thread->tid;
    ThreadRecord* stored = nullptr;
    switch (core.threads.add(std::move(thread), &stored)) {
        case ThreadTable::AddResult::DuplicateTid:
            walk.console.error(Msg::DuplicateTid, tid);
            return false;
        case ThreadTable::AddResult::OutOfMemory:
            walk.console.warning(Msg::OutOfMemory);
            return false;
        case ThreadTable::AddResult::Added:
            break;
    }
    ++core.threadCount;
    core.lastThread = stored;
    walk.sawPrStatus = true;
    if (first) {
        core.firstThread = stored;
        core.signal = static_cast<std::uint32_t>(static_cast<std::int32_t>(*d.read<std::int16_t>(prstatus::kCurSig)));
        core.ppid = *d.read<std::uint32_t>(prstatus::kPpid);
    }
    return true;
}

// The process arguments: an 80-byte field, NUL-terminated within it (at most 79 bytes are
// kept), trailing blanks cut.
std::string commandLineFrom(common::ByteView field) {
    std::size_t length = 0;
    while (length + 1 < field.size() && field.data()[length] != 0) ++length;
    std::string text(reinterpret_cast<const char*>(field.data()), length);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

bool handlePrPsInfo(NoteWalk& walk, common::ByteView d) {
    auto layout = prPsInfoLayout(d.size());
    if (!layout) {
        wrongSize(walk, "NT_PRPSINFO", d.size());
        return false;
    }
    CoreDump& core = walk.core;
    core.processState = std::min<std::uint32_t>(*d.read<std::uint8_t>(kStateOffset), 10);
    core.nice = *d.read<std::int8_t>(kNiceOffset);
    core.pid = *d.read<std::uint32_t>(layout->pid);
    if (std::uint32_t ppid = *d.read<std::uint32_t>(layout->ppid)) core.ppid = ppid;
    core.commandLine = commandLineFrom(*d.sub(layout->args, kArgsSize));
    walk.sawPrPsInfo = true;
    return true;
}

void nameRegionAt(AddressSpace& space, TargetWord address, const char* name, std::uint32_t kind) {
    if (MapEntry* region = space.regionAt(address)) space.nameRegion(*region, name, kind);
}

bool handleAuxv(NoteWalk& walk, common::ByteView d) {
    CoreDump& core = walk.core;
    bool ok = true;
    common::ByteReader reader(d);
    while (reader.remaining() >= 2 * kWord) {
        TargetWord type = reader.read<TargetWord>();
        TargetWord value = reader.read<TargetWord>();
        if (type == auxv_type::kNull) break;
        switch (type) {
            case auxv_type::kBase: core.interpreterBase = value; break;
            case auxv_type::kEntry: core.entryPoint = value; break;
            case auxv_type::kRandom:
                nameRegionAt(walk.space, value, "[stack]", rk::kStack);
                if constexpr (!kIs64) nameRegionAt(walk.space, 0xFFFF0000u, "[vectors]", rk::kIgnore);
                break;
            case auxv_type::kExecFn:
                if (auto path = walk.space.readString(value)) {
                    core.executablePath = std::move(*path);
                } else {
                    walk.console.printMessage(kToStdout | kYellow, kNoPrefix, "Fail to get proc name\n");
                    ok = false;
                }
                break;
            default: break;
        }
    }
    return ok;
}

// NT_FILE: count, page size, count (start, end, offset) entries, then count paths. Entries whose
// path does not lie wholly inside the descriptor are dropped with everything after them.
bool handleFile(NoteWalk& walk, common::ByteView d) {
    auto count = d.read<TargetWord>(0);
    if (!count) return true;
    std::uint64_t tableRoom = d.size() >= 2 * kWord ? d.size() - 2 * kWord : 0;
    if (*count > tableRoom / (3 * kWord)) return true;  // the paths would start past the descriptor
    std::uint64_t pathOffset = 2 * kWord + *count * 3 * kWord;
    for (std::uint64_t i = 0; i < *count; ++i) {
        auto path = d.cstring(pathOffset);
        if (!path) break;
        pathOffset += path->size() + 1;
        TargetWord start = *d.read<TargetWord>(2 * kWord + i * 3 * kWord);
        MapEntry* region = walk.space.regionAt(start);
        if (!region) continue;
        std::uint32_t kind = rk::kOwnedName | (path->substr(0, 5) == "/dev/" ? rk::kDev : rk::kFile);
        walk.space.nameRegion(*region, *path, kind);
    }
    return true;
}

bool handleSigInfo(NoteWalk& walk, common::ByteView d) {
    if (d.size() < siginfo::kMinSize) {
        wrongSize(walk, "NT_SIGINFO", d.size());
        return false;
    }
    walk.core.signal = *d.read<std::uint32_t>(siginfo::kSigNo);
    walk.core.signalCode = *d.read<std::uint32_t>(siginfo::kCode);
    walk.core.faultAddress = *d.read<TargetWord>(siginfo::kAddress);
    return true;
}

}  // namespace

bool handleCoreNote(NoteWalk& walk, std::uint32_t type, common::ByteView descriptor) {
    switch (type) {
        case note_type::kPrStatus: return handlePrStatus(walk, descriptor);
        case note_type::kPrPsInfo: return handlePrPsInfo(walk, descriptor);
        case note_type::kAuxv: return handleAuxv(walk, descriptor);
        case note_type::kFile: return handleFile(walk, descriptor);
        case note_type::kSigInfo: return handleSigInfo(walk, descriptor);
        case note_type::kArmTls:
            if (auto tls = descriptor.read<TargetWord>(0); tls && walk.core.lastThread) walk.core.lastThread->tls = *tls;
            return true;
        case note_type::kArmTaggedAddrCtrl:
            if (auto control = descriptor.read<std::uint8_t>(0); control && (*control & 1))
                walk.core.flags |= core_flag::kTaggedAddresses;
            return true;
        case note_type::kPrFpReg:
        case note_type::kArmPacEnabledKeys:
            return true;
        default:
            if (type >= note_type::kArmVfp && type <= 0x408) return true;  // VFP, debug and vector registers
            walk.console.error(Msg::UnrecognizedType, "NOTE", type);
            return false;
    }
}

std::optional<TargetWord> auxvValue(common::ByteView descriptor, TargetWord type) {
    common::ByteReader reader(descriptor);
    while (reader.remaining() >= 2 * kWord) {
        TargetWord entryType = reader.read<TargetWord>();
        TargetWord value = reader.read<TargetWord>();
        if (entryType == auxv_type::kNull) break;
        if (entryType == type) return value;
    }
    return std::nullopt;
}

bool supportedPageSize(TargetWord pageSize) {
    if constexpr (kIs64) return pageSize == 4096 || pageSize == 16384 || pageSize == 65536;
    return pageSize == 4096;
}

}  // namespace coresift

#include "tools/corekit/core_notes.h"

#include <algorithm>
#include <cstring>

#include "tools/corekit/byte_writer.h"
#include "tools/corekit/elf_constants.h"

namespace corekit {

using common::ByteReader;
using common::ByteView;

namespace {

// Offsets shared by the 32- and 64-bit prstatus layouts up to pr_cursig; the rest is per width.
struct PrStatusLayout {
    unsigned sigpend, sighold, pid, ppid, pgrp, sid, times, regs, fpvalid, size;
};

PrStatusLayout prStatusLayout(CoreArch arch) {
    if (arch == CoreArch::Arm64) return {16, 24, 32, 36, 40, 44, 48, 112, 384, 392};
    return {16, 20, 24, 28, 32, 36, 40, 72, 144, 148};
}

struct PsInfoOffsets {
    unsigned flag, uid, gid, idSize, pid, ppid, pgrp, sid, fname, psargs, size;
};

PsInfoOffsets psInfoOffsets(CoreArch arch, PsInfoLayout layout) {
    if (arch == CoreArch::Arm64) return {8, 16, 20, 4, 24, 28, 32, 36, 40, 56, 136};
    if (layout == PsInfoLayout::WideIds) return {4, 8, 12, 4, 16, 20, 24, 28, 32, 48, 128};
    return {4, 8, 10, 2, 12, 16, 20, 24, 28, 44, 124};
}

void putText(std::vector<std::uint8_t>& out, std::size_t offset, const std::string& text, std::size_t field) {
    std::size_t n = std::min(text.size(), field - 1);
    std::memcpy(out.data() + offset, text.data(), n);
}

std::string fieldText(ByteView desc, std::size_t offset, std::size_t field) {
    auto bytes = desc.sub(offset, field);
    if (!bytes) return {};
    const char* p = reinterpret_cast<const char*>(bytes->data());
    return std::string(p, strnlen(p, field));
}

std::uint64_t readWord(ByteReader& r, CoreArch arch) { return arch == CoreArch::Arm64 ? r.u64() : r.u32(); }

}  // namespace

unsigned prPsInfoSize(CoreArch arch, PsInfoLayout layout) { return psInfoOffsets(arch, layout).size; }

std::vector<std::uint8_t> encodePrStatus(CoreArch arch, const PrStatus& s) {
    const PrStatusLayout l = prStatusLayout(arch);
    const unsigned w = wordSize(arch);
    std::vector<std::uint8_t> out(l.size, 0);
    putLe(out, 0, s.infoSigno, 4);
    putLe(out, 4, s.infoCode, 4);
    putLe(out, 8, s.infoErrno, 4);
    putLe(out, 12, static_cast<std::uint16_t>(s.cursig), 2);
    putLe(out, l.sigpend, s.sigpend, w);
    putLe(out, l.sighold, s.sighold, w);
    putLe(out, l.pid, s.pid, 4);
    putLe(out, l.ppid, s.ppid, 4);
    putLe(out, l.pgrp, s.pgrp, 4);
    putLe(out, l.sid, s.sid, 4);
    for (unsigned i = 0; i < 4; ++i) {
        putLe(out, l.times + i * 2 * w, static_cast<std::uint64_t>(s.times[i].first), w);
        putLe(out, l.times + i * 2 * w + w, static_cast<std::uint64_t>(s.times[i].second), w);
    }
    const unsigned count = std::min<std::size_t>(s.regs.size(), registerCount(arch));
    for (unsigned i = 0; i < count; ++i) putLe(out, l.regs + i * w, s.regs[i], w);
    putLe(out, l.fpvalid, static_cast<std::uint32_t>(s.fpvalid), 4);
    return out;
}

std::optional<PrStatus> decodePrStatus(CoreArch arch, ByteView desc) {
    const PrStatusLayout l = prStatusLayout(arch);
    if (desc.size() != l.size) return std::nullopt;
    PrStatus s;
    ByteReader r(desc);
    s.infoSigno = r.s32();
    s.infoCode = r.s32();
    s.infoErrno = r.s32();
    s.cursig = r.s16();
    r.seek(l.sigpend);
    s.sigpend = readWord(r, arch);
    r.seek(l.sighold);
    s.sighold = readWord(r, arch);
    r.seek(l.pid);
    s.pid = r.u32();
    s.ppid = r.u32();
    s.pgrp = r.u32();
    s.sid = r.u32();
    r.seek(l.times);
    for (auto& t : s.times) {
        t.first = static_cast<std::int64_t>(readWord(r, arch));
        t.second = static_cast<std::int64_t>(readWord(r, arch));
    }
    r.seek(l.regs);
    s.regs.resize(registerCount(arch));
    for (auto& reg : s.regs) reg = readWord(r, arch);
    r.seek(l.fpvalid);
    s.fpvalid = r.s32();
    if (!r.ok()) return std::nullopt;
    return s;
}

std::vector<std::uint8_t> encodePrPsInfo(CoreArch arch, const PrPsInfo& p, PsInfoLayout layout) {
    const PsInfoOffsets o = psInfoOffsets(arch, layout);
    std::vector<std::uint8_t> out(o.size, 0);
    out[0] = p.state;
    out[1] = static_cast<std::uint8_t>(p.sname);
    out[2] = p.zombie;
    out[3] = static_cast<std::uint8_t>(p.nice);
    putLe(out, o.flag, p.flag, wordSize(arch));
    putLe(out, o.uid, p.uid, o.idSize);
    putLe(out, o.gid, p.gid, o.idSize);
    putLe(out, o.pid, p.pid, 4);
    putLe(out, o.ppid, p.ppid, 4);
    putLe(out, o.pgrp, p.pgrp, 4);
    putLe(out, o.sid, p.sid, 4);
    putText(out, o.fname, p.fname, 16);
    putText(out, o.psargs, p.psargs, 80);
    return out;
}

std::optional<PrPsInfo> decodePrPsInfo(CoreArch arch, ByteView desc) {
    PsInfoLayout layout = PsInfoLayout::Native;
    if (arch == CoreArch::Arm32 && desc.size() == prPsInfoSize(arch, PsInfoLayout::WideIds)) {
        layout = PsInfoLayout::WideIds;
    }
    const PsInfoOffsets o = psInfoOffsets(arch, layout);
    if (desc.size() != o.size) return std::nullopt;
    PrPsInfo p;
    ByteReader r(desc);
    p.state = r.u8();
    p.sname = static_cast<char>(r.u8());
    p.zombie = r.u8();
    p.nice = r.s8();
    r.seek(o.flag);
    p.flag = readWord(r, arch);
    r.seek(o.uid);
    p.uid = o.idSize == 2 ? r.u16() : r.u32();
    r.seek(o.gid);
    p.gid = o.idSize == 2 ? r.u16() : r.u32();
    r.seek(o.pid);
    p.pid = r.u32();
    p.ppid = r.u32();
    p.pgrp = r.u32();
    p.sid = r.u32();
    if (!r.ok()) return std::nullopt;
    p.fname = fieldText(desc, o.fname, 16);
    p.psargs = fieldText(desc, o.psargs, 80);
    return p;
}

std::vector<std::uint8_t> encodeAuxv(CoreArch arch, const Auxv& auxv) {
    const unsigned w = wordSize(arch);
    std::vector<std::uint8_t> out;
    for (const auto& [key, value] : auxv) {
        appendLe(out, key, w);
        appendLe(out, value, w);
    }
    appendLe(out, elf::AT_NULL, w);
    appendLe(out, 0, w);
    return out;
}

std::optional<Auxv> decodeAuxv(CoreArch arch, ByteView desc) {
    const unsigned w = wordSize(arch);
    if (desc.size() % (2 * w) != 0) return std::nullopt;
    Auxv auxv;
    ByteReader r(desc);
    while (r.remaining() >= 2 * w) {
        std::uint64_t key = readWord(r, arch);
        std::uint64_t value = readWord(r, arch);
        if (key == elf::AT_NULL) break;
        auxv.emplace_back(key, value);
    }
    return auxv;
}

std::optional<std::uint64_t> auxvValue(const Auxv& auxv, std::uint64_t key) {
    for (const auto& [k, v] : auxv)
        if (k == key) return v;
    return std::nullopt;
}

std::vector<std::uint8_t> encodeFileNote(CoreArch arch, const FileNote& note) {
    const unsigned w = wordSize(arch);
    std::vector<std::uint8_t> out;
    appendLe(out, note.mappings.size(), w);
    appendLe(out, note.pageSize, w);
    for (const auto& m : note.mappings) {
        appendLe(out, m.start, w);
        appendLe(out, m.end, w);
        appendLe(out, m.pageOffset, w);
    }
    for (const auto& m : note.mappings) {
        out.insert(out.end(), m.path.begin(), m.path.end());
        out.push_back(0);
    }
    return out;
}

std::optional<FileNote> decodeFileNote(CoreArch arch, ByteView desc) {
    const unsigned w = wordSize(arch);
    ByteReader r(desc);
    std::uint64_t count = readWord(r, arch);
    FileNote note;
    note.pageSize = readWord(r, arch);
    // Each entry needs three words and at least a NUL: a count beyond that is corrupt.
    if (!r.ok() || count > r.remaining() / (3 * w + 1)) return std::nullopt;
    note.mappings.resize(static_cast<std::size_t>(count));
    for (auto& m : note.mappings) {
        m.start = readWord(r, arch);
        m.end = readWord(r, arch);
        m.pageOffset = readWord(r, arch);
    }
    for (auto& m : note.mappings) m.path = std::string(r.cstring());
    if (!r.ok()) return std::nullopt;
    return note;
}

std::vector<std::uint8_t> encodeSigInfo(CoreArch arch, const SigInfo& info) {
    std::vector<std::uint8_t> out(kSigInfoSize, 0);
    putLe(out, 0, static_cast<std::uint32_t>(info.signo), 4);
    putLe(out, 4, static_cast<std::uint32_t>(info.errnum), 4);
    putLe(out, 8, static_cast<std::uint32_t>(info.code), 4);
    const unsigned unionOffset = arch == CoreArch::Arm64 ? 16 : 12;
    if (info.sender) {
        putLe(out, unionOffset, info.sender->first, 4);
        putLe(out, unionOffset + 4, info.sender->second, 4);
    } else {
        putLe(out, unionOffset, info.addr, wordSize(arch));
    }
    return out;
}

std::optional<SigInfo> decodeSigInfo(CoreArch arch, ByteView desc) {
    const unsigned unionOffset = arch == CoreArch::Arm64 ? 16 : 12;
    if (desc.size() < unionOffset + wordSize(arch)) return std::nullopt;
    ByteReader r(desc);
    SigInfo info;
    info.signo = r.s32();
    info.errnum = r.s32();
    info.code = r.s32();
    r.seek(unionOffset);
    info.addr = readWord(r, arch);
    // si_code <= 0 means the signal came from a process (SI_USER, SI_QUEUE, SI_TKILL, ...).
    if (info.code <= 0) {
        info.sender = std::make_pair(static_cast<std::uint32_t>(info.addr & 0xFFFFFFFFu),
                                     desc.read<std::uint32_t>(unionOffset + 4).value_or(0));
    }
    if (!r.ok()) return std::nullopt;
    return info;
}

std::vector<std::uint8_t> encodeArmTls(CoreArch arch, std::uint64_t tls) {
    std::vector<std::uint8_t> out;
    appendLe(out, tls, wordSize(arch));
    return out;
}

std::optional<std::uint64_t> decodeArmTls(CoreArch arch, ByteView desc) {
    if (desc.size() < wordSize(arch)) return std::nullopt;
    ByteReader r(desc);
    return readWord(r, arch);
}

}  // namespace corekit

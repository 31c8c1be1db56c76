// core-summary CORE [--no-values]: prints what an ELF core holds, one fact per line: load segments,
// notes, each thread's registers, the process record, the auxiliary vector, the file mappings and
// the signal. With --no-values the run-to-run values (pids, tids, times, register contents other
// than pc, sp and lr) are left out, so that two runs of the same crash compare equal.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/corekit/core_reader.h"
#include "tools/corekit/elf_constants.h"

namespace {

using namespace corekit;

const char* noteName(std::uint32_t type) {
    switch (type) {
    case elf::NT_PRSTATUS: return "NT_PRSTATUS";
    case elf::NT_PRFPREG: return "NT_PRFPREG";
    case elf::NT_PRPSINFO: return "NT_PRPSINFO";
    case elf::NT_AUXV: return "NT_AUXV";
    case elf::NT_ARM_VFP: return "NT_ARM_VFP";
    case elf::NT_ARM_TLS: return "NT_ARM_TLS";
    case elf::NT_FILE: return "NT_FILE";
    case elf::NT_SIGINFO: return "NT_SIGINFO";
    default: return "other";
    }
}

std::string flagText(std::uint32_t flags) {
    std::string s;
    s += (flags & elf::PF_R) ? 'r' : '-';
    s += (flags & elf::PF_W) ? 'w' : '-';
    s += (flags & elf::PF_X) ? 'x' : '-';
    return s;
}

void printThread(const CoreFile& core, const PrStatus& t, std::size_t index, bool values) {
    const bool is64 = core.arch() == CoreArch::Arm64;
    // pc, sp, lr positions in the register block.
    const unsigned pc = is64 ? 32 : 15, sp = is64 ? 31 : 13, lr = is64 ? 30 : 14;
    if (values) std::printf("thread %zu tid %u cursig %d\n", index, t.pid, t.cursig);
    else std::printf("thread %zu cursig %d\n", index, t.cursig);
    for (unsigned i = 0; i < t.regs.size(); ++i) {
        if (!values && i != pc && i != sp && i != lr) continue;
        std::printf("  reg %u 0x%" PRIx64 "\n", i, t.regs[i]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
        std::fprintf(stderr, "usage: core-summary CORE [--no-values]\n");
        return argc < 2 ? 2 : 0;
    }
    const bool values = !(argc > 2 && !std::strcmp(argv[2], "--no-values"));
    std::string error;
    auto core = CoreFile::load(argv[1], &error);
    if (!core) {
        std::fprintf(stderr, "core-summary: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::printf("arch %s\n", core->arch() == CoreArch::Arm64 ? "aarch64" : "arm");
    for (const auto& s : core->segments()) {
        std::printf("load 0x%" PRIx64 "-0x%" PRIx64 " %s %s\n", s.vaddr, s.vaddr + s.memsz, flagText(s.flags).c_str(),
                    s.filesz == s.memsz ? "bytes" : s.filesz == 0 ? "empty" : "partial");
    }
    for (const auto& n : core->notes())
        std::printf("note %s %s 0x%x size %zu\n", n.name.c_str(), noteName(n.type), n.type, n.desc.size());
    std::size_t index = 0;
    for (const auto& t : core->threads()) printThread(*core, t, index++, values);
    if (auto p = core->processInfo()) {
        if (values) std::printf("process pid %u ppid %u", p->pid, p->ppid);
        else std::printf("process");
        std::printf(" state %u fname \"%s\" psargs \"%s\"\n", p->state, p->fname.c_str(), p->psargs.c_str());
    }
    if (auto a = core->auxv()) {
        for (const auto& [key, value] : *a) {
            if (!values && key != elf::AT_PAGESZ && key != elf::AT_BASE && key != elf::AT_ENTRY && key != elf::AT_PHDR)
                continue;
            std::printf("auxv %" PRIu64 " 0x%" PRIx64, key, value);
            if (key == elf::AT_EXECFN) {
                if (auto text = core->readString(value)) std::printf(" \"%s\"", text->c_str());
            }
            std::printf("\n");
        }
    }
    if (auto f = core->fileNote()) {
        for (const auto& m : f->mappings)
            std::printf("file 0x%" PRIx64 "-0x%" PRIx64 " page %" PRIu64 " %s\n", m.start, m.end, m.pageOffset,
                        m.path.c_str());
    }
    if (auto s = core->sigInfo()) {
        std::printf("siginfo signo %d code %d", s->signo, s->code);
        if (!s->sender) std::printf(" addr 0x%" PRIx64, s->addr);
        else if (values) std::printf(" pid %u uid %u", s->sender->first, s->sender->second);
        std::printf("\n");
    }
    return 0;
}

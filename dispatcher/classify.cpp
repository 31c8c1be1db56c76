#include "dispatcher/classify.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/file_map.h"

namespace dispatcher {
namespace {

constexpr const char* kProcessDumps[] = {"PROCESS_COREDUMP", "PROCESS_MINIDUMP", "PROCESS_NCOREDUMP"};
constexpr const char* kKernelDumps[] = {"SYS_MINI_RDUMP", "SYS_COREDUMP"};

constexpr std::string_view kFramePointerMark = ", FP = 0x";
constexpr std::size_t kCpuBusBytes = 1023;
// The character that decides the width: the ninth digit after "0x".
constexpr std::size_t kFramePointerWidthProbe = 17;

constexpr std::size_t kInternalBytes = 19;

// Reads up to `limit` bytes of a text file; false when it cannot be opened. The captures are text:
// a NUL byte ends what is looked at.
bool readText(const char* path, std::size_t limit, std::string& text) {
    std::FILE* file = std::fopen(path, "r");
    if (!file) return false;
    text.assign(limit, '\0');
    std::size_t n = std::fread(text.data(), 1, limit, file);
    bool unreadable = n == 0 && std::ferror(file);  // a folder, say
    std::fclose(file);
    if (unreadable) return false;
    text.resize(n);
    std::size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return true;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The first ELF file of `names` decides between the two kinds.
bool probeFirstElf(const char* const* names, std::size_t count, DbKind kind32, DbKind kind64, DbKind& kind) {
    for (std::size_t i = 0; i < count; ++i) {
        ElfProbe probe = probeElf(names[i]);
        if (probe == ElfProbe::Elf32 || probe == ElfProbe::Elf64) {
            kind = probe == ElfProbe::Elf64 ? kind64 : kind32;
            return true;
        }
    }
    return false;
}

// Rule 3: a 64-bit frame pointer is printed with sixteen digits, a 32-bit one with eight. A
// capture that ends before the ninth digit shows a short one.
bool classifyByCpuBus(DbKind& kind) {
    std::string text;
    if (!readText("SYS_LAST_CPU_BUS", kCpuBusBytes, text)) return false;
    std::size_t at = text.find(kFramePointerMark);
    if (at == std::string::npos) return false;
    std::size_t probe = at + kFramePointerWidthProbe;
    kind = probe < text.size() && isHexDigit(text[probe]) ? DbKind::KernSift64 : DbKind::KernSift;
    return true;
}

// Rule 4: the exception type recorded by the device.
bool classifyByInternal(DbKind& kind) {
    std::string text;
    if (!readText("ZZ_INTERNAL", kInternalBytes, text)) return false;
    if (startsWith(text, "Native (NE)")) kind = DbKind::CoreSift64;
    else if (startsWith(text, "Kernel (KE)") || startsWith(text, "HWT") || startsWith(text, "Hardware Reboot") ||
             startsWith(text, "OCP_reboot"))
        kind = DbKind::KernSift64;
    else kind = DbKind::NotAnExceptionDb;
    return true;
}

}  // namespace

const char* analyzerName(DbKind kind) {
    switch (kind) {
        case DbKind::CoreSift: return "CoreSift";
        case DbKind::CoreSift64: return "CoreSift64";
        case DbKind::KernSift: return "KernSift";
        case DbKind::KernSift64: return "KernSift64";
        default: return nullptr;
    }
}

ElfProbe probeElf(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return platform::pathExists(path) ? ElfProbe::NotElf : ElfProbe::Absent;
    unsigned char ident[16];
    std::size_t n = std::fread(ident, 1, sizeof ident, file);
    std::fclose(file);
    if (n < sizeof ident || std::memcmp(ident, "\x7F" "ELF", 4) != 0) return ElfProbe::NotElf;
    return ident[4] == 2 ? ElfProbe::Elf64 : ElfProbe::Elf32;
}

DbKind classifyFolder() {
    DbKind kind = DbKind::NoExceptionInfo;
    if (probeFirstElf(kProcessDumps, std::size(kProcessDumps), DbKind::CoreSift, DbKind::CoreSift64, kind)) return kind;
    if (probeFirstElf(kKernelDumps, std::size(kKernelDumps), DbKind::KernSift, DbKind::KernSift64, kind)) return kind;
    if (classifyByCpuBus(kind)) return kind;
    if (classifyByInternal(kind)) return kind;
    if (platform::pathExists("SYS_LAST_KMSG")) return DbKind::KernSift;
    if (platform::pathExists("_exp_detail.txt")) return DbKind::CoreSift;
    if (platform::pathExists("SYS_KERNEL_LOG")) return DbKind::KernSift;
    return DbKind::NoExceptionInfo;
}

}  // namespace dispatcher

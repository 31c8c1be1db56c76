#include "tools/fixturekit/offline_case.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "tools/fixturekit/decompress.h"

namespace fixturekit {

namespace fs = std::filesystem;

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Register names of regs.txt that only one width uses.
bool isArm64Register(const std::string& name) {
    return name == "pst" || name == "pstate" || (name.size() > 1 && name[0] == 'x' && std::isdigit(static_cast<unsigned char>(name[1])));
}
bool isArm32Register(const std::string& name) {
    return name == "ip" || name == "cpsr" || (name.size() > 1 && name[0] == 'r' && std::isdigit(static_cast<unsigned char>(name[1])));
}

bool readRegs(const std::string& path, OfflineCase& out, std::string& error) {
    bool ok = false;
    std::istringstream in(readTextFile(path, &ok));
    if (!ok) {
        error = "cannot read " + path;
        return false;
    }
    std::string name, value;
    while (in >> name >> value) {
        if (name.empty() || name.back() != ':') {
            error = "regs.txt: expected 'name: value', found '" + name + "'";
            return false;
        }
        name.pop_back();
        char* end = nullptr;
        const std::uint64_t v = std::strtoull(value.c_str(), &end, 16);
        if (!end || *end) {
            error = "regs.txt: '" + value + "' is not a hexadecimal value";
            return false;
        }
        out.regs.emplace_back(name, v);
    }
    bool arm64 = false, arm32 = false, other = false;
    for (const auto& [n, v] : out.regs) {
        arm64 |= isArm64Register(n);
        arm32 |= isArm32Register(n);
        other |= !isArm64Register(n) && !isArm32Register(n) && n != "sp" && n != "lr" && n != "pc" && n != "fp";
    }
    if (other || arm64 == arm32) {
        error = "regs.txt does not hold 32-bit ARM or AArch64 registers (only those cases can be converted)";
        return false;
    }
    out.arch = arm64 ? corekit::CoreArch::Arm64 : corekit::CoreArch::Arm32;
    return true;
}

bool readSnapshot(const fs::path& path, OfflineCase& out, std::string& error) {
    auto data = readBinaryFile(path.string());
    if (!data || data->size() < 8) {
        error = path.filename().string() + ": a memory snapshot needs an 8-byte start address";
        return false;
    }
    MemorySnapshot s;
    s.file = path.filename().string();
    auto start = common::ByteView(data->data(), data->size()).read<std::uint64_t>(0);
    s.start = start.value_or(0);
    s.bytes.assign(data->begin() + 8, data->end());
    out.snapshots.push_back(std::move(s));
    return true;
}

}  // namespace

bool readOfflineCase(const std::string& dir, OfflineCase& out, std::string& error) {
    out = OfflineCase{};
    out.dir = dir;
    out.name = fs::path(dir).lexically_normal().filename().string();
    if (out.name.empty()) out.name = fs::path(dir).lexically_normal().parent_path().filename().string();
    bool ok = false;
    const std::string maps = readTextFile(dir + "/maps.txt", &ok);
    if (!ok) {
        error = "cannot read " + dir + "/maps.txt";
        return false;
    }
    std::size_t skipped = 0;
    out.maps = parseMaps(maps, &skipped);
    if (out.maps.empty()) {
        error = "maps.txt holds no mapping";
        return false;
    }
    if (!readRegs(dir + "/regs.txt", out, error)) return false;

    std::error_code ec;
    std::vector<fs::path> entries;
    for (const auto& e : fs::directory_iterator(dir, ec)) entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    for (const auto& p : entries) {
        if (p.extension() == ".data" && !readSnapshot(p, out, error)) return false;
    }
    // The mapped files, by their maps.txt names: NAME or NAME.gz beside maps.txt.
    for (const auto& m : out.maps) {
        if (m.path.empty() || out.files.count(m.path) || m.path.find('/') != std::string::npos) continue;
        const fs::path plain = fs::path(dir) / m.path;
        const fs::path packed = fs::path(dir) / (m.path + ".gz");
        if (fs::is_regular_file(packed, ec)) {
            auto raw = readBinaryFile(packed.string());
            auto data = raw ? gunzip(common::ByteView(raw->data(), raw->size())) : std::nullopt;
            if (!data) {
                error = packed.filename().string() + " is not a readable gzip file";
                return false;
            }
            out.files[m.path] = std::move(*data);
        } else if (fs::is_regular_file(plain, ec)) {
            out.files[m.path] = readBinaryFile(plain.string()).value_or(std::vector<std::uint8_t>{});
        }
    }
    return true;
}

std::string unsupportedReason(const std::string& caseName) {
    if (caseName == "jit_map_arm")
        return "its JIT symbol files (jit_map*.so) are fed to the unwinder as maps; the process's own JIT "
               "memory, which a core would hold, is not part of the case";
    if (caseName == "shared_lib_in_apk_memory_only_arm64")
        return "Android deliberately leaves the frame in the apk's memory-only library unnamed, while a core "
               "of the same memory names it by our module rules, so the case's expected frames cannot agree";
    return {};
}

std::string offlineDevicePath(const std::string& name, corekit::CoreArch arch) {
    const bool is64 = arch == corekit::CoreArch::Arm64;
    if (name.empty() || name[0] == '/' || name[0] == '[' || name.rfind("anonymous:", 0) == 0) return name;
    if (name.find('/') != std::string::npos) return "/" + name;
    if (name == "vdso" || name == "vdso.so") return "[vdso]";
    if (name == "linker" || name == "linker64") return "/system/bin/" + name;
    if (endsWith(name, ".so")) return std::string(is64 ? "/system/lib64/" : "/system/lib/") + name;
    if (endsWith(name, ".apk")) return "/data/app/" + name;
    if (endsWith(name, ".odex") || endsWith(name, ".oat") || endsWith(name, ".vdex"))
        return std::string("/data/app/oat/") + (is64 ? "arm64/" : "arm/") + name;
    return "/system/bin/" + name;
}

bool writeOfflineDb(const OfflineDb& db, const std::string& dir, std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!db.core.write(dir + "/PROCESS_COREDUMP", &error)) return false;
    if (!writeTextFile(dir + "/PROCESS_MAPS", db.processMaps)) {
        error = "cannot write " + dir + "/PROCESS_MAPS";
        return false;
    }
    for (const auto& [path, bytes] : db.symbols) {
        const fs::path target = fs::path(dir) / "symbols" / fs::path(path).relative_path();
        fs::create_directories(target.parent_path(), ec);
        if (!writeBinaryFile(target.string(), bytes)) {
            error = "cannot write " + target.string();
            return false;
        }
    }
    return true;
}

std::string offlineConversionNotes() {
    std::string text =
        "What the db holds:\n"
        "  PROCESS_COREDUMP  one thread: NT_PRSTATUS from regs.txt (missing registers are 0; on 32-bit ARM\n"
        "                    cpsr is user mode, with the Thumb bit when the pc lies in a Thumb function),\n"
        "                    NT_PRPSINFO, NT_AUXV (AT_PAGESZ 4096, AT_BASE, AT_ENTRY of the executable), NT_FILE;\n"
        "                    load segments: each maps.txt line (ends rounded up to the page), file-backed code\n"
        "                    without bytes; the vdso with its bytes; each library's writable segment with the\n"
        "                    file's bytes, .init_array/.fini_array words other than 0 and all-ones relocated\n"
        "                    by the load bias (or, with --rw-without-bytes, read-only and without bytes);\n"
        "                    every *.data snapshot with its bytes, padded with zeros to whole pages.\n"
        "  PROCESS_MAPS      the same mappings in /proc/PID/maps form.\n"
        "  symbols/          the case's files, unpacked, at their device paths.\n"
        "Device paths: NAME.so -> /system/lib[64]/NAME.so, linker[64] and executables -> /system/bin/NAME,\n"
        "  NAME.apk -> /data/app/NAME.apk, vdso -> [vdso]; names without '/' would be refused as modules.\n"
        "AT_BASE: the linker's first mapping when the case maps one; otherwise the lowest mapping that starts\n"
        "  with an ELF header; otherwise the lowest file mapping (invalid_elf_offset_arm: its apk). That region\n"
        "  begins exactly at AT_BASE, holds no linker records, and so leads to the memory-map module list.\n"
        "Unsupported cases:\n";
    for (const char* name : {"jit_map_arm", "shared_lib_in_apk_memory_only_arm64"})
        text += std::string("  ") + name + ": " + unsupportedReason(name) + ".\n";
    text += "  any case whose registers are not 32-bit ARM or AArch64, or whose pc lies in no mapping.\n";
    return text;
}

}  // namespace fixturekit

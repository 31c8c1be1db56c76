#include "tests/unwind/offline_case.h"

#include <fstream>
#include <map>
#include <sstream>

#include "tests/symbols/elf_fixtures.h"
#include "tests/symbols/readelf_oracle.h"

namespace testsupport {
namespace fs = std::filesystem;
namespace {

constexpr std::uint64_t kPage = 0x1000;

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ByteVector readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), {});
}

// The library file of the case named `base` (kept as NAME or NAME.gz), unpacked once.
fs::path libraryFile(const fs::path& folder, const std::string& base, const std::string& caseName) {
    if (fs::exists(folder / base)) return folder / base;
    const fs::path packed = folder / (base + ".gz");
    if (!fs::exists(packed)) return {};
    const fs::path target = scratchFolder() / ("offline-" + caseName + "-" + base);
    if (!fs::exists(target) && !runCommandInto("gzip -dc " + shellQuote(packed.string()), target.string())) return {};
    return target;
}

// The test names of EXPECTED_PC_SP.tsv that differ from the case folder's.
std::string expectationName(const std::string& caseName) {
    return caseName == "straddle_arm64" ? "pc_straddle_arm64" : caseName;
}

}  // namespace

fs::path OfflineCase::casesFolder() {
    fs::path shared = sharedFixtures();
    return shared.empty() ? fs::path() : shared / "unwindstack-offline/cases";
}

OfflineCase::OfflineCase(coresift::Console& console, const std::string& name) : name_(name) {
    const fs::path folder = casesFolder() / name;
    arm64_ = name.find("arm64") != std::string::npos;
    if (casesFolder().empty() || !fs::exists(folder) || arm64_ != kIs64) return;
    if (readelfProgram().empty()) return;  // the unpacker lives beside binutils
    readRegisters(folder / "regs.txt");
    readStacks(folder);
    readMaps(console, folder);
    readExpected();
    usable_ = true;
}

void OfflineCase::readRegisters(const fs::path& file) {
    std::istringstream in(readText(file));
    static const std::map<std::string, unsigned> kNames = kIs64
        ? std::map<std::string, unsigned>{{"sp", 31}, {"lr", 30}, {"pc", 32}}
        : std::map<std::string, unsigned>{{"ip", 12}, {"sp", 13}, {"lr", 14}, {"pc", 15}};
    for (std::string key, value; in >> key >> value;) {
        key.pop_back();  // the colon
        unsigned reg = 0;
        if (auto it = kNames.find(key); it != kNames.end()) reg = it->second;
        else if (key.size() > 1 && (key[0] == 'r' || key[0] == 'x') && std::isdigit(static_cast<unsigned char>(key[1])))
            reg = static_cast<unsigned>(std::stoul(key.substr(1)));
        else continue;  // pst and the like
        registers_.set(reg, static_cast<TargetWord>(std::stoull(value, nullptr, 16)));
    }
}

void OfflineCase::readStacks(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind("stack", 0) != 0 || entry.path().extension() != ".data") continue;
        ByteVector bytes = readBytes(entry.path());
        if (bytes.size() < 8) continue;
        std::uint64_t start = 0;
        for (int i = 7; i >= 0; --i) start = start << 8 | bytes[static_cast<std::size_t>(i)];
        // Whole pages, zeros around the snapshot, as the device's stack reads.
        const std::uint64_t first = start & ~(kPage - 1);
        const std::uint64_t end = (start + bytes.size() - 8 + kPage - 1) & ~(kPage - 1);
        ByteVector page(end - first, 0);
        std::copy(bytes.begin() + 8, bytes.end(), page.begin() + static_cast<std::ptrdiff_t>(start - first));
        memory_.add(static_cast<TargetWord>(first), std::move(page));
    }
}

void OfflineCase::readMaps(coresift::Console& console, const fs::path& folder) {
    std::istringstream in(readText(folder / "maps.txt"));
    std::map<std::string, Module*> byName;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        if (!(fields >> range >> perms >> offset >> device >> inode)) continue;
        std::getline(fields >> std::ws, path);
        if (path.empty()) continue;
        const std::size_t dash = range.find('-');
        const std::uint64_t start = std::stoull(range.substr(0, dash), nullptr, 16);
        // Map ends can be inclusive and unaligned: up to the page.
        const std::uint64_t end = (std::stoull(range.substr(dash + 1), nullptr, 16) + kPage - 1) & ~(kPage - 1);
        const std::uint64_t fileOffset = std::stoull(offset, nullptr, 16);
        const std::string base = path.substr(path.rfind('/') + 1);
        const fs::path file = libraryFile(folder, base, name_);
        if (file.empty()) continue;

        Module*& module = byName[base];
        if (!module) {
            auto owned = std::make_unique<Module>();
            owned->name = base;
            owned->image = coresift::ElfImage::open(console, coresift::MappedFile::open(file.string()),
                                                    coresift::elf::kSymbolFileTypes);
            if (!owned->image) continue;
            owned->miniDebugInfo = owned->image->miniDebugInfo(console);
            module = owned.get();
            modules_.push_back(std::move(owned));
        }
        // The file's bytes at the mapping, as far as the file holds them.
        const common::ByteView rest = module->image->bytes().from(fileOffset);
        if (!rest.empty())
            memory_.addView(static_cast<TargetWord>(start), rest.size() > end - start ? *rest.sub(0, end - start) : rest);
        if (perms.find('x') == std::string::npos || module->unwinder) continue;
        // The load bias from the executable mapping: where its executable PT_LOAD lands (the
        // mapping starts at the page that holds the segment's first byte).
        std::optional<TargetWord> bias;
        module->image->forEachLoad([&](const coresift::ProgramHeader& load) {
            if (!(load.flags & 1) || load.offset < fileOffset || load.offset - fileOffset >= end - start) return 0;
            bias = static_cast<TargetWord>(start + (load.offset - fileOffset) - load.vaddr);
            return 1;
        });
        if (!bias) continue;
        module->start = static_cast<TargetWord>(start);
        module->end = static_cast<TargetWord>(end);
        module->unwinder = std::make_unique<coresift::unwind::ModuleUnwinder>(
            coresift::unwind::tablesFromImage(*module->image, *bias, base, module->miniDebugInfo.get()));
    }
}

void OfflineCase::readExpected() {
    std::istringstream in(readText(casesFolder().parent_path() / "EXPECTED_PC_SP.tsv"));
    const std::string test = expectationName(name_);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string testName, field, value;
        std::size_t index = 0;
        if (!(fields >> testName >> index >> field >> value) || testName != test) continue;
        if (expected_.size() <= index) expected_.resize(index + 1);
        (field == "pc" ? expected_[index].pc : expected_[index].sp) = std::stoull(value, nullptr, 16);
    }
}

coresift::unwind::ModuleUnwinder* OfflineCase::moduleAt(TargetWord pc) {
    for (const auto& module : modules_)
        if (module->unwinder && pc >= module->start && pc < module->end) return module->unwinder.get();
    return nullptr;
}

std::string OfflineCase::moduleNameAt(TargetWord pc) const {
    for (const auto& module : modules_)
        if (module->unwinder && pc >= module->start && pc < module->end) return module->name;
    return "?";
}

}  // namespace testsupport

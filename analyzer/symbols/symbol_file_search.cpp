#include "analyzer/symbols/symbol_file_search.h"

#include <algorithm>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/symbols/elf_layout.h"
#include "analyzer/symbols/module.h"
#include "platform/directory.h"

namespace coresift {

namespace {

// Windows paths stay below 260 characters; the search keeps within that everywhere.
constexpr std::size_t kPathLimit = 261;
constexpr std::size_t kSearchPathLimit = 258;
constexpr unsigned kMaxSearchDepth = 64;
constexpr std::uint64_t kSizeTolerance = 16384;

std::uint64_t roundUp(std::uint64_t value, std::uint64_t unit) {
    if (unit <= 1) return value;
    std::uint64_t rest = value % unit;
    return rest ? value + (unit - rest) : value;
}

std::uint64_t distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

class FolderSearch {
public:
    FolderSearch(const std::string& baseName, const AcceptCandidate& accept) : baseName_(baseName), accept_(accept) {}

    // Depth-first: the file in `folder` itself, then each subfolder in name order.
    std::string search(const std::string& folder, unsigned depth = 0) {
        std::vector<platform::DirectoryEntry> entries;
        if (depth > kMaxSearchDepth || !platform::listFolder(folder, entries)) return {};
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        for (const auto& entry : entries) {
            if (!entry.isFile || entry.name != baseName_) continue;
            std::string candidate = folder + "/" + entry.name;
            if (!accept_ || accept_(candidate)) return candidate;
            rejected_ = candidate;
        }
        for (const auto& entry : entries) {
            if (!entry.isFolder) continue;
            std::string sub = folder + "/" + entry.name;
            if (sub.size() > kSearchPathLimit) continue;
            std::string found = search(sub, depth + 1);
            if (!found.empty()) return found;
        }
        return {};
    }

    const std::string& rejected() const { return rejected_; }

private:
    const std::string& baseName_;
    const AcceptCandidate& accept_;
    std::string rejected_;
};

}  // namespace

bool safeDevicePath(const std::string& path) {
    if (path.find_first_of(std::string("\\:\0", 3)) != std::string::npos) return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (path.compare(start, slash - start, "..") == 0) return false;
        start = slash + 1;
    }
    return true;
}

std::shared_ptr<const MappedFile> findSymbolFile(RunContext& context, const std::string& path,
                                                 const AcceptCandidate& accept) {
    const std::string& folder = context.options.symbolsDir;
    const std::string baseName = baseNameOf(path);
    if (baseName.empty() || baseName == "." || baseName == ".." || !safeDevicePath(baseName)) return nullptr;
    if (folder.size() + 1 + baseName.size() + 1 >= kPathLimit) return nullptr;
    if (folder == "symbols") platform::createFolders(folder);

    // The device path itself may be used only when it stays inside the folder.
    const bool devicePathUsable = !path.empty() && path[0] == '/' && safeDevicePath(path) &&
                                  folder.size() + path.size() + 1 < kPathLimit;
    if (devicePathUsable) {
        std::string direct = folder + path;
        if (platform::isRegularFile(direct)) {
            if (auto file = MappedFile::openAnnounced(context.console, direct)) return file;
        }
    }

    FolderSearch search(baseName, accept);
    std::string found = search.search(folder);
    if (!found.empty()) return MappedFile::openAnnounced(context.console, found);

    const auto& external = context.options.externalSymbolsDir;
    if (external && devicePathUsable && external->size() + path.size() + 1 < kPathLimit) {
        std::string remote = *external + path;
        if (platform::isRegularFile(remote)) {
            context.console.print(Msg::CopyRemote, baseName);
            std::string local = folder + path;
            std::string localFolder = local.substr(0, local.rfind('/'));
            if (!platform::createFolders(localFolder) || !platform::copyFile(remote, local)) return nullptr;
            return MappedFile::openAnnounced(context.console, local);
        }
    }
    if (!search.rejected().empty()) return MappedFile::openAnnounced(context.console, search.rejected());
    return nullptr;
}

bool plausibleSymbolFile(const std::string& candidatePath, TargetWord codeSize) {
    auto file = MappedFile::open(candidatePath);
    if (!file) return false;
    const elf::Layout& layout = elf::layoutOf(kTargetElfClass);
    common::ByteView bytes = file->bytes();
    auto header = elf::decodeFileHeader(bytes, layout);
    if (!header || header->ident[0] != 0x7F || header->ident[1] != 'E' || header->ident[2] != 'L' ||
        header->ident[3] != 'F' || header->ident[elf::kIdentClass] != static_cast<std::uint8_t>(kTargetElfClass))
        return false;
    if (header->phoff == 0 || header->phnum == 0) return false;
    for (std::uint32_t i = 0; i < header->phnum; ++i) {
        std::uint64_t at = header->phoff + std::uint64_t{i} * layout.programHeaderSize;
        auto entry = bytes.sub(at, layout.programHeaderSize);
        if (!entry) return false;
        auto load = elf::decodeProgramHeader(*entry, layout);
        if (!load || load->type != elf::kPtLoad || !(load->flags & 1) || load->memsz == 0) continue;
        std::uint64_t pageRounded = roundUp((load->vaddr & 0xFFF) + load->memsz, 4096);
        std::uint64_t align = load->align ? load->align : 1;
        std::uint64_t alignRounded = roundUp((load->vaddr & (align - 1)) + load->memsz, align);
        if (distance(pageRounded, codeSize) < kSizeTolerance || distance(alignRounded, codeSize) < kSizeTolerance)
            return true;
    }
    return false;
}

}  // namespace coresift

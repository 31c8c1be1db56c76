#include "tools/fixturekit/core_completion.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>

#include "tools/corekit/elf_constants.h"

namespace fixturekit {

namespace elf = corekit::elf;

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

bool isOwnFile(const MapsEntry& e, const std::string& runRoot) {
    return startsWith(e.path, runRoot + "/");
}

std::string hex(std::uint64_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, value);
    return buffer;
}

// Fills a byte-less, non-writable segment from the fixture's own files mapped over it.
// Returns false when the segment is not wholly covered by such files (it is then left alone).
bool fillFromFiles(corekit::CoreSegment& segment, const std::vector<MapsEntry>& maps, const std::string& runRoot,
                   std::map<std::string, std::vector<std::uint8_t>>& files, std::string& error) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(segment.memsz), 0);
    std::uint64_t covered = 0;
    for (const auto& e : maps) {
        const std::uint64_t from = std::max(e.start, segment.vaddr);
        const std::uint64_t to = std::min(e.end, segment.vaddr + segment.memsz);
        if (from >= to) continue;
        if (!isOwnFile(e, runRoot)) return false;
        auto& file = files[e.path];
        if (file.empty()) {
            auto data = readBinaryFile(e.path);
            if (!data) {
                error = "cannot read " + e.path;
                return false;
            }
            file = std::move(*data);
        }
        // The mapping shows file offset e.offset at e.start; past the file's end the page is zero.
        for (std::uint64_t a = from; a < to; ++a) {
            const std::uint64_t fileOffset = e.offset + (a - e.start);
            if (fileOffset < file.size()) bytes[static_cast<std::size_t>(a - segment.vaddr)] = file[fileOffset];
        }
        covered += to - from;
    }
    if (covered != segment.memsz) return false;
    segment.bytes = std::move(bytes);
    segment.hasBytes = true;
    return true;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

std::string devicePath(const std::string& runPath, const std::string& runRoot,
                       const std::vector<std::pair<std::string, std::string>>& prefixMap) {
    if (startsWith(runPath, runRoot + "/")) return runPath.substr(runRoot.size());
    for (const auto& [from, to] : prefixMap)
        if (startsWith(runPath, from)) return to + runPath.substr(from.size());
    return runPath;
}

bool completeCore(const CompletionInput& input, CompletionResult& result, std::string& error) {
    const auto& core = input.core;
    const corekit::CoreArch arch = core.arch();
    result.core = core.toBuilder();
    result.core.notes().clear();

    // 1. The fixture's own code and read-only pages.
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (auto& segment : result.core.segments()) {
        if (segment.hasBytes || (segment.flags & elf::PF_W) || !(segment.flags & (elf::PF_R | elf::PF_X))) continue;
        if (fillFromFiles(segment, input.maps, input.runRoot, files, error)) {
            result.notes.push_back("filled " + hex(segment.vaddr) + "-" + hex(segment.vaddr + segment.memsz) +
                                   " from the fixture's files");
        } else if (!error.empty()) {
            return false;
        }
    }

    // 2. Device paths and NT_FILE.
    corekit::FileNote fileNote;
    for (const auto& e : input.maps) {
        MapsEntry device = e;
        device.path = devicePath(e.path, input.runRoot, input.prefixMap);
        result.deviceMaps.push_back(device);
        if (e.inode == 0 || device.path.empty() || device.path[0] != '/') continue;
        fileNote.mappings.push_back({e.start, e.end, e.offset / fileNote.pageSize, device.path});
    }

    // 3. The notes, in the order a kernel writes them: the first thread's status, the process
    // record, the signal, the auxiliary vector, the file mappings, then the other threads.
    const auto& original = core.notes();
    std::vector<corekit::CoreNote> rest;
    bool firstStatus = true;
    std::optional<corekit::CoreNote> status, psinfo, auxv;
    for (const auto& note : original) {
        if (note.type == elf::NT_PRSTATUS && firstStatus) {
            status = note;
            firstStatus = false;
        } else if (note.type == elf::NT_PRPSINFO && !psinfo) {
            psinfo = note;
        } else if (note.type == elf::NT_AUXV && !auxv) {
            auxv = note;
        } else if (note.type != elf::NT_FILE && note.type != elf::NT_SIGINFO) {
            rest.push_back(note);
        }
    }
    if (!status || !psinfo || !auxv) {
        error = "the core lacks NT_PRSTATUS, NT_PRPSINFO or NT_AUXV";
        return false;
    }
    result.core.addNote(*status);

    auto info = corekit::decodePrPsInfo(arch, common::ByteView(psinfo->desc.data(), psinfo->desc.size()));
    if (!info) {
        error = "the core's NT_PRPSINFO does not decode";
        return false;
    }
    info->psargs = replaceAll(info->psargs, input.runRoot + "/", "/");
    const auto layout = psinfo->desc.size() == corekit::prPsInfoSize(arch, corekit::PsInfoLayout::WideIds) &&
                                arch == corekit::CoreArch::Arm32
                            ? corekit::PsInfoLayout::WideIds
                            : corekit::PsInfoLayout::Native;
    result.core.addPrPsInfo(*info, layout);

    if (!input.sigInfo.empty()) {
        if (input.sigInfo.size() != corekit::kSigInfoSize) {
            error = "the recorded siginfo has " + std::to_string(input.sigInfo.size()) + " bytes, not 128";
            return false;
        }
        result.core.addNote(elf::NT_SIGINFO, "CORE", input.sigInfo);
    }

    auto pairs = corekit::decodeAuxv(arch, common::ByteView(auxv->desc.data(), auxv->desc.size()));
    if (!pairs) {
        error = "the core's NT_AUXV does not decode";
        return false;
    }
    for (auto& [key, value] : *pairs) {
        if (key != elf::AT_EXECFN) continue;
        auto name = core.readString(value);
        if (name && startsWith(*name, input.runRoot + "/")) {
            value += input.runRoot.size();
            result.notes.push_back("AT_EXECFN now names " + name->substr(input.runRoot.size()));
        }
    }
    result.core.addAuxv(*pairs);
    result.core.addFileNote(fileNote);
    for (auto& note : rest) result.core.addNote(note);
    return true;
}

}  // namespace fixturekit

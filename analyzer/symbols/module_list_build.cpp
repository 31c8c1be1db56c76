// Building the module list after the coredump is loaded: the dynamic linker's module from
// AT_BASE, then its chain of library records, or, when the records cannot be found, the file
// mappings whose names look like libraries. A process without a linker is taken as one static
// executable.
#include <new>
#include <unordered_set>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/module_list_hook.h"
#include "analyzer/symbols/linker_records.h"
#include "analyzer/symbols/module_list.h"

namespace coresift {

namespace {

namespace rk = region_kind;

constexpr TargetWord kDefaultLinkerBase = 0xB0001000;
constexpr unsigned kMaxRecordRegions = 5;
// No real process loads this many libraries; a longer chain is a damaged one.
constexpr unsigned kMaxLibraryRecords = 4096;

}  // namespace

// Whether the memory map's name for a region names a library or executable: scanning from its
// end, the first '.' must begin a ".so" or ".oat" ending; or the last '/' comes before any '.',
// ' ' or ':' (a name whose only '/' is its first character must not contain "/mali").
bool moduleNameAccepted(const std::string& name) {
    for (std::size_t i = name.size(); i-- > 0;) {
        const char c = name[i];
        if (c == '.') {
            std::string ending = name.substr(i);
            return ending == ".so" || ending == ".oat";
        }
        if (c == ' ' || c == ':') return false;
        if (c == '/') return i != 0 || name.find("/mali") == std::string::npos;
    }
    return false;
}

namespace {

class ListBuilder {
public:
    explicit ListBuilder(RunContext& context)
        : context_(context), space_(*context.addressSpace), core_(*context.core) {}

    ModuleListResult build() {
        TargetWord base = core_.interpreterBase ? core_.interpreterBase : kDefaultLinkerBase;
        MapEntry* region = space_.regionAt(base);
        if (!region || region->start != base) return ModuleListResult::NoLinker;
        std::string name = region->hasName() ? region->name : (kIs64 ? "linker64" : "linker");
        linker_ = createModule(context_, {name, 0, base, base, kUnknownEnd, false});
        if (!linker_) return ModuleListResult::Failed;

        LinkerRecords records(space_, base, base);
        auto first = findFirstRecord(records);
        ModuleListResult result = ModuleListResult::Built;
        if (!first) {
            context_.console.warning(Msg::FailToFindSegment, linker_->name, "soinfo");
            addFromMemoryMap();
        } else if (!walkChain(records, *first)) {
            result = ModuleListResult::Failed;
        }
        nameExecutable();
        return result;
    }

private:
    // The writable, not executable regions from the linker's start: the linker's own, and after
    // them at most one unnamed region of another owner; at most five are looked at.
    std::optional<TargetWord> findFirstRecord(LinkerRecords& records) {
        unsigned examined = 0;
        bool skippedForeign = false;
        std::optional<TargetWord> found;
        space_.forEachRegion(linker_->header.start, ~TargetWord{0}, [&](MapEntry& region) {
            if (!(region.kind & rk::kWrite) || (region.kind & rk::kExecute)) return 0;
            if (++examined > kMaxRecordRegions) return 1;
            if (region.module != linker_) {
                if (!skippedForeign) {
                    skippedForeign = true;
                    return 0;
                }
                if (region.hasName()) return 1;
            }
            found = records.findFirst(region);
            return found ? 1 : 0;
        });
        return found;
    }

    bool corrupted() {
        context_.console.error(Msg::SoInfoLinkCorrupted);
        return false;
    }

    bool walkChain(LinkerRecords& records, TargetWord first) {
        auto head = records.read(first);
        if (!head) return corrupted();
        std::unordered_set<TargetWord> seen{first};
        for (TargetWord at = head->next; at != 0;) {
            MapEntry* region = space_.regionAt(at);
            if (!region || !seen.insert(at).second || seen.size() > kMaxLibraryRecords) return corrupted();
            auto record = records.read(at);
            if (!record) return corrupted();
            if (!region->hasName()) space_.nameRegion(*region, "[anon:linker_alloc]", rk::kOwnedName);
            addLibrary(*record, records.nameOf(*record));
            at = record->next;
        }
        return true;
    }

    void addLibrary(const LibraryRecord& record, const std::string& name) {
        if (record.linkName == 0) {
            if (record.flags & record_flag::kFailedLink) context_.console.error(Msg::FailLinkedLib, name);
            return;
        }
        TargetWord bias = record.loadBias;
        const TargetWord end = record.base + record.size;
        if (record.legacyA || record.legacyB) bias = record.base;
        else if (record.dynamic >= end) bias = record.linkAddress;
        // The linker's own record may appear in the chain; its module exists already.
        MapEntry* head = space_.regionAt(record.programHeaders);
        if (head && head->module && head->module->path == name) return;
        Module* module = createModule(context_, {name, record.address, bias, record.programHeaders, end, false});
        if (!module) {
            context_.console.error(Msg::FailToCreateLibHandle, bias, name);
            return;
        }
        module->dynamicAddress = record.dynamic;
        if (record.flags & record_flag::kUnrelocatedArrays) module->flags |= module_flag::kUnrelocatedArrays;
        if constexpr (!kIs64) module->unwind.exidxCount = record.exidxCount;
    }

    // Without the linker's records: every file mapping whose name looks like a library or an
    // executable, once per name, except mappings that already belong to a module.
    void addFromMemoryMap() {
        std::string previous;
        space_.forEachRegion(0, ~TargetWord{0}, [&](MapEntry& region) {
            if (region.type() != rk::kFile || region.module || region.name.rfind("/dev/", 0) == 0) return 0;
            if (!moduleNameAccepted(region.name) || region.name == previous) return 0;
            previous = region.name;
            std::string path = region.name;
            createModule(context_, {path, 0, 0, region.start, kUnknownEnd, true});
            return 0;
        });
    }

    void nameExecutable() {
        MapEntry* region = space_.regionAt(core_.entryPoint);
        if (region && region->module) context_.moduleList->setExecutableName(region->module->name);
    }

    RunContext& context_;
    AddressSpace& space_;
    CoreDump& core_;
    Module* linker_ = nullptr;
};

}  // namespace

ModuleListResult buildModuleList(RunContext& context) {
    if (!context.addressSpace || !context.core) return ModuleListResult::Failed;
    try {
        context.moduleList = std::make_unique<ModuleList>();
        return ListBuilder(context).build();
    } catch (const std::bad_alloc&) {
        context.console.warning(Msg::OutOfMemory);
        return ModuleListResult::Failed;
    }
}

bool loadExecutableModule(RunContext& context, TargetWord start) {
    if (!context.addressSpace || !context.core) return false;
    if (!context.moduleList) context.moduleList = std::make_unique<ModuleList>();
    const std::string& path = context.core->executablePath;
    Module* module = createModule(context, {path, 0, 0, start, kUnknownEnd, true});
    if (!module) return false;
    context.moduleList->setExecutableName(module->name);
    matchModule(context, *module);
    if (module->has(module_flag::kMatched)) return true;
    module->flags |= module_flag::kMissingReported;
    return false;
}

}  // namespace coresift

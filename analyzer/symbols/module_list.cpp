// The module list's look-ups and the page source that fills a module's regions from its file.
#include "analyzer/symbols/module_list.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"

namespace coresift {

namespace rk = region_kind;

std::string baseNameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Module& ModuleList::add(std::unique_ptr<Module> module) {
    modules_.push_back(std::move(module));
    return *modules_.back();
}

Module* moduleAt(RunContext& context, TargetWord address) {
    if (!context.addressSpace) return nullptr;
    MapEntry* region = context.addressSpace->regionAt(address);
    if (!region || !region->module) return nullptr;
    Module* module = region->module;
    matchModule(context, *module);
    return module;
}

Module* moduleNamed(RunContext& context, std::string_view baseName,
                    const std::function<bool(const std::string& path)>& accept) {
    if (!context.moduleList) return nullptr;
    const auto& modules = context.moduleList->modules();
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
        Module& module = **it;
        if (module.name != baseName || (accept && !accept(module.path))) continue;
        matchModule(context, module);
        return &module;
    }
    return nullptr;
}

namespace {

Module* findCLibrary(RunContext& context) {
    if (context.core && (context.core->flags & core_flag::kExecutableOnly)) {
        const auto& modules = context.moduleList->modules();
        if (modules.empty()) return nullptr;
        matchModule(context, *modules.front());
        return modules.front().get();
    }
    return moduleNamed(context, "libc.so");
}

}  // namespace

Module* cLibraryModule(RunContext& context) {
    if (!context.moduleList) return nullptr;
    std::optional<Module*>& cached = context.moduleList->cLibrary;
    if (!cached) cached = findCLibrary(context);
    return *cached;
}

namespace {

// The part of a load window that serves the region [start, start + size): the window's own
// bytes, or a zero-padded copy where the region runs past the end of the file.
const std::uint8_t* serveFromWindow(Module& module, const LoadWindow& window, TargetWord windowStart, TargetWord start,
                                    TargetWord size) {
    const std::uint64_t offset = start - windowStart;
    if (offset <= window.bytes.size() && size <= window.bytes.size() - offset) return window.bytes.data() + offset;
    auto copy = std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]());
    if (!copy) return nullptr;
    if (offset < window.bytes.size()) std::memcpy(copy.get(), window.bytes.data() + offset, window.bytes.size() - offset);
    module.paddedPages.push_back(std::move(copy));
    return module.paddedPages.back().get();
}

// Whether the region starting at `start` lies in `window` as loaded at the module's bias. A
// no-access region counts only inside the window's page-rounded part (the gap cut out of a
// mapping at the end of a segment).
bool inWindow(const Module& module, const LoadWindow& window, TargetWord start, bool noAccess) {
    if (!window.present) return false;
    const TargetWord windowStart = module.loadBias + static_cast<TargetWord>(window.vaddr);
    if (start < windowStart) return false;
    const std::uint64_t pageEnd = (window.segmentVaddr & ~std::uint64_t{0xFFF}) + window.pageLength;
    const std::uint64_t pagePart = pageEnd > window.vaddr ? pageEnd - window.vaddr : 0;
    const std::uint64_t reach = noAccess ? pagePart : window.alignedLength;
    return start - windowStart < reach;
}

}  // namespace

const std::uint8_t* modulePageSource(RunContext& context, Module* module, TargetWord start, TargetWord size) {
    if (!module || !context.addressSpace || !module->has(module_flag::kCreated)) return nullptr;
    matchModule(context, *module);
    if (!module->has(module_flag::kMatched)) return nullptr;
    MapEntry* region = context.addressSpace->regionAt(start);
    const bool noAccess = region && (region->kind & rk::kPermissions) == 0;
    for (const LoadWindow* window : {&module->ro, &module->rx}) {
        if (!inWindow(*module, *window, start, noAccess)) continue;
        const TargetWord windowStart = module->loadBias + static_cast<TargetWord>(window->vaddr);
        return serveFromWindow(*module, *window, windowStart, start, size);
    }
    return nullptr;
}

}  // namespace coresift

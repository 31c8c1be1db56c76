// The module list: every ELF object loaded in the dead process, found from the dynamic linker's
// library records in the dump (or, without them, from the memory map), and the lazy matching of
// each module's symbol file from the symbols folder.
//
// The list is built once after the address space is complete (module_list_hook.h). Matching
// runs the first time a module is looked up (`moduleAt`, `moduleNamed`) or one of its missing
// pages is read (`modulePageSource`), and at most once per module.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analyzer/symbols/module.h"
#include "common/target_word.h"

namespace coresift {

struct RunContext;

class ModuleList {
public:
    ModuleList() = default;
    ModuleList(const ModuleList&) = delete;
    ModuleList& operator=(const ModuleList&) = delete;

    // The modules in the order they were created (the report's order).
    const std::vector<std::unique_ptr<Module>>& modules() const { return modules_; }
    std::size_t size() const { return modules_.size(); }
    Module& add(std::unique_ptr<Module> module);

    // The executable's base name used in messages (the module holding AT_ENTRY).
    const std::string& executableName() const { return executableName_; }
    void setExecutableName(std::string name) { executableName_ = std::move(name); }

    // The start of the head region of the most recently attached module; 0 for an empty list.
    // Each head region's `nextModule` holds the previous head.
    TargetWord head() const { return head_; }
    void setHead(TargetWord start) { head_ = start; }

    // The C library module once `cLibraryModule` has looked for it (null: there is none);
    // reset by phase 2's clean-up.
    std::optional<Module*> cLibrary;

private:
    std::vector<std::unique_ptr<Module>> modules_;
    std::string executableName_;
    TargetWord head_ = 0;
};

// Where the end of a module is unknown.
inline constexpr TargetWord kUnknownEnd = ~TargetWord{0};

struct ModuleRequest {
    std::string path;
    TargetWord soinfo = 0;
    TargetWord loadBias = 0;
    TargetWord headerAddress = 0;
    TargetWord endAddress = kUnknownEnd;
    // The memory-map fallback and the executable-only module: the bias is taken from the ELF
    // headers in the dump, or later from the symbol file.
    bool learnBias = false;
};

// Creates a module: finds its regions, claims them in the address space and, when its code is
// in the dump, reads its headers from there. Null after message 24 (no region at the header
// address) or when memory runs out.
Module* createModule(RunContext& context, const ModuleRequest& request);

// The module owning the region that holds `address`, matched; null when the region belongs to
// no module.
Module* moduleAt(RunContext& context, TargetWord address);
// The most recently attached module whose base name is `baseName` and whose path satisfies
// `accept` (when given), matched; null when there is none.
Module* moduleNamed(RunContext& context, std::string_view baseName,
                    const std::function<bool(const std::string& path)>& accept = {});

// Finds, checks and keeps (or drops) the module's symbol file. Runs once per module.
void matchModule(RunContext& context, Module& module);

// The bytes of a module region that the dump lacks, from the matched symbol file; null when the
// module did not match or the region lies outside the file's load windows.
const std::uint8_t* modulePageSource(RunContext& context, Module* module, TargetWord start, TargetWord size);

// Function match mode: the file address of the instruction at dump address `address`, found by
// comparing function bodies; 0 when no function matches.
TargetWord toFileAddress(RunContext& context, Module& module, TargetWord address);
// The reverse: the dump address of the function starting at file address `fileAddress` (Thumb
// bit clear); 0 when no function in the dump has its code.
TargetWord toDumpAddress(RunContext& context, Module& module, TargetWord fileAddress);

// The C library's module for the start-up phase: "libc.so", or, when the process was loaded in
// executable-only mode, the executable's module; matched. Null when there is none. Looked for
// once, until `ModuleList::cLibrary` is reset.
Module* cLibraryModule(RunContext& context);

// Whether a file mapping's name is taken as a module by the memory-map rule.
bool moduleNameAccepted(const std::string& name);

// Reads the module's headers and dynamic section from the dump (once; module flag 0x40).
void readModuleHeaders(RunContext& context, Module& module);

}  // namespace coresift

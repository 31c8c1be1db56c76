#include "analyzer/driver/android_version.h"

#include "analyzer/driver/module_services.h"
#include "analyzer/driver/run_context.h"
#include "analyzer/process/property_table.h"

namespace coresift {

namespace {

struct VersionProbe {
    const char* symbol;
    SymbolKind kind;
    unsigned version;
};

// Newest first: the first symbol the C library has decides.
constexpr VersionProbe kProbes[] = {
    {"epoll_pwait2", SymbolKind::Function, 18},
    {"close_range", SymbolKind::Function, 17},
    {"backtrace", SymbolKind::Function, 16},
    {"android_reset_stack_guards", SymbolKind::Function, 15},
    {"android_fdtrack_set_enabled", SymbolKind::Function, 14},
    {"timespec_get", SymbolKind::Function, 13},
    {"__malloc_hook", SymbolKind::Object, 12},
    {"android_gethostbynamefornetcontext", SymbolKind::Function, 11},
    {"semctl", SymbolKind::Function, 10},
    {"fopen64", SymbolKind::Function, 9},
    {"sigqueue", SymbolKind::Function, 8},
    {"stdout", SymbolKind::Object, 7},
    {"dup3", SymbolKind::Function, 6},
    {"getauxval", SymbolKind::Function, 5},
    {"fgetxattr", SymbolKind::Function, 4},
    {"ftruncate64", SymbolKind::Function, 3},
    {"__libc_android_log_vprint", SymbolKind::Function, 2},
};

constexpr const char* kVersionNames[] = {"??", "GB", "ICS", "JB", "KK", "L0", "L1", "M",  "N0",
                                         "O0", "O1", "P0",  "Q0", "R0", "S0", "T0", "U0", "V0"};

unsigned probeVersion(RunContext& context) {
    if (!context.modules || !context.modules->cLibrary()) return android::kUnknown;
    for (const VersionProbe& probe : kProbes)
        if (context.modules->cLibrarySymbol(probe.symbol, probe.kind)) return probe.version;
    return android::kUnknown;
}

unsigned buildTypeNamed(const std::optional<std::string>& value) {
    if (value == "eng") return build_type::kEng;
    if (value == "user") return build_type::kUser;
    if (value == "userdebug") return build_type::kUserdebug;
    return build_type::kUnknown;
}

}  // namespace

unsigned androidVersion(RunContext& context) {
    if (!context.platform.androidVersion) context.platform.androidVersion = probeVersion(context);
    return context.platform.androidVersion;
}

const char* androidVersionName(unsigned version) {
    if (version < android::kUnknown || version > android::kV0) return kVersionNames[0];
    return kVersionNames[version - 1];
}

const std::string& platformBranch(RunContext& context) {
    if (!context.platform.branch) {
        auto branch = findProperty(context, "ro.quandrel.version.branch");
        context.platform.branch = branch ? *branch : androidVersionName(androidVersion(context));
    }
    return *context.platform.branch;
}

unsigned buildType(RunContext& context) {
    if (!context.platform.buildType) {
        context.platform.buildType = androidVersion(context) == android::kGB
                                         ? build_type::kEng
                                         : buildTypeNamed(findProperty(context, "ro.build.type"));
    }
    return context.platform.buildType;
}

void forgetPlatformFacts(RunContext& context) { context.platform = {}; }

}  // namespace coresift

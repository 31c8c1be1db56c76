#include "analyzer/driver/c_library_phase.h"

#include "analyzer/driver/android_version.h"
#include "analyzer/driver/module_services.h"
#include "analyzer/driver/run_context.h"

namespace coresift {

namespace {
constexpr const char* kCLibrary = "libc.so";
constexpr const char* kCLibraryUsers = "pthread/malloc/fdleak/property";
}  // namespace

bool prepareCLibrary(RunContext& context) {
    Console& console = context.console;
    const std::string& symbols = context.options.symbolsDir;
    auto library = context.modules->cLibrary();
    if (androidVersion(context) == android::kUnknown) console.error(Msg::UnknownAndroidVersion);
    if (!library) {
        console.printMessage(kToStdout, static_cast<int>(Msg::ErrorPrefix), Msg::NeedFilePutInFolder,
                             console.text(Msg::WordUnwindNativeCallstack), kCLibrary, symbols);
        return false;
    }
    if (!(library->flags & module_flag::kSymbolTables)) {
        context.modules->markCLibrary(module_flag::kMissingReported);
        console.warning(Msg::InitNeedFilePutInFolder, kCLibraryUsers, library->name, symbols);
        if (!(library->flags & module_flag::kDynamicSymbols)) return false;
    }
    context.stackGuardAddress = context.modules->cLibrarySymbol("__stack_chk_guard", SymbolKind::Object).value_or(0);
    return true;
}

void forgetCLibrary(RunContext& context) {
    context.modules->forgetCLibrary();
    forgetPlatformFacts(context);
    context.stackGuardAddress = 0;
}

}  // namespace coresift

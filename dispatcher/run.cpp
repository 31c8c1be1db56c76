#include "dispatcher/run.h"

#include "dispatcher/classify.h"
#include "dispatcher/command_line.h"
#include "dispatcher/container.h"
#include "dispatcher/install.h"
#include "dispatcher/launch.h"
#include "dispatcher/option_word.h"
#include "dispatcher/update_check.h"

namespace dispatcher {
namespace {

// Prepares and classifies the current folder and starts its analyzer. True when it was started.
bool dispatchFolder(DispatchContext& context) {
    checkForUpdate(context);
    unpackContainer();
    DbKind kind = classifyFolder();
    switch (kind) {
        case DbKind::NoExceptionInfo:
            context.console.error(Msg::NoExceptionInfo);
            return false;
        case DbKind::NotAnExceptionDb:
            context.console.error(Msg::NotAnExceptionDb);
            return false;
        default:
            return launchAnalyzer(context, analyzerName(kind));
    }
}

}  // namespace

void loadOptionWord(DispatchContext& context) {
    std::optional<std::uint32_t> stored;
    if (auto store = context.services.openSettings()) stored = store->readWord("GlobalOpt");
    if (stored) context.settings.word = *stored;
    else context.settings.word = (context.services.systemLanguageField() << opt::kLanguageShift) & opt::kLanguageMask;
    context.catalog.select(opt::showsEnglish(context.settings.word) ? Language::English : Language::Chinese);
}

int runDispatcher(DispatchContext& context, const std::vector<std::string>& args) {
    loadOptionWord(context);
    bool started = false;
    switch (parseCommandLine(args, context)) {
        case CommandLine::Setup:
            return runInstall(context);
        case CommandLine::Uninstall:
            return runUninstall(context);
        case CommandLine::Stop:
            break;
        case CommandLine::Dispatch:
            started = dispatchFolder(context);
            break;
    }
    if (started) return 0;
    if (!(context.settings.word & opt::kBatch)) {
        context.console.print(Msg::PressAnyKey);
        context.services.readKey();
    }
    return 1;
}

}  // namespace dispatcher

#include "dispatcher/launch.h"

#include <algorithm>
#include <cstring>

#include "dispatcher/option_word.h"
#include "platform/file_map.h"
#include "platform/paths.h"
#include "platform/shared_library.h"

namespace dispatcher {
namespace {

constexpr std::size_t kMaxClipboardPath = 259;
constexpr std::size_t kMinClipboardPath = 8;
constexpr std::string_view kSymbolsSuffix = "symbols";

using TessivFunction = int (*)(char*, int);

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<std::string> symbolsFromClipboard(DispatchContext& context) {
    std::optional<std::string> clip = context.services.clipboardText();
    if (!clip) return std::nullopt;
    std::string text = clip->substr(0, std::min(clip->find('\0'), kMaxClipboardPath));
    if (text.size() < kMinClipboardPath || !endsWith(text, kSymbolsSuffix) || !platform::isReadable(text))
        return std::nullopt;
    context.console.print(Msg::SymbolsFromClipboard, text);
    context.services.clearClipboard();
    return text;
}

// The outside library answers with a folder in the buffer and 0; it is unloaded again at once.
std::optional<std::string> symbolsFromTessiv(DispatchContext& context) {
    std::string path = installFolder(context) + "/" + platform::sharedLibraryFileName("Tessiv");
    auto library = platform::SharedLibrary::load(path);
    if (!library) return std::nullopt;
    auto tessiv = library->function<TessivFunction>("Tessiv");
    if (!tessiv) return std::nullopt;
    char buffer[kTessivBufferSize] = {};
    int rc = tessiv(buffer, kTessivBufferSize);
    buffer[kTessivBufferSize - 1] = '\0';  // an answer that fills the buffer is cut, not overrun
    std::string folder = buffer;
    if (rc != 0 || !platform::isReadable(folder)) return std::nullopt;
    return folder;
}

void appendQuoted(AnalyzerCommand& command, const char* option, const std::string& value) {
    command.argv.push_back(option);
    command.argv.push_back(value);
    command.commandLine += std::string(" ") + option + " \"" + value + "\"";
}

// The program file in the install folder; when it is not there, the one next to the Dispatcher,
// so that a build tree works without an install.
std::string locateProgram(DispatchContext& context, const std::string& fileName) {
    std::string installed = installFolder(context) + "/" + fileName;
    if (platform::pathExists(installed) || context.services.ownFolder.empty()) return installed;
    std::string beside = context.services.ownFolder + "/" + fileName;
    return platform::pathExists(beside) ? beside : installed;
}

}  // namespace

const std::string& installFolder(DispatchContext& context) {
    std::optional<std::string>& cached = context.settings.installFolder;
    if (!cached) {
        std::optional<std::string> stored;
        if (auto store = context.services.openSettings()) stored = store->readText("InstallDir");
        if (stored && !stored->empty() && stored->size() <= kMaxInstallFolder) cached = *stored;
        else cached = context.services.defaultInstallFolder;
    }
    return *cached;
}

AnalyzerCommand buildAnalyzerCommand(DispatchContext& context, const std::string& name,
                                     const std::optional<std::string>& externalSymbols) {
    const DispatchSettings& settings = context.settings;
    AnalyzerCommand command;
    std::string fileName = name + platform::kExecutableSuffix;
    command.programFile = locateProgram(context, fileName);
    std::string install = platform::shortPathForm(installFolder(context));
    std::string word = std::to_string(static_cast<std::int32_t>(settings.word));
    command.argv = {fileName, "-l", install, "-ext", word};
    command.commandLine = fileName + " -l \"" + install + "\" -ext " + word;
    if (settings.symbolsFolder) appendQuoted(command, "-s", *settings.symbolsFolder);
    if (externalSymbols) appendQuoted(command, "-se", *externalSymbols);
    if ((settings.word & opt::kPassSymcache) && settings.symcacheFolder)
        appendQuoted(command, "-c", *settings.symcacheFolder);
    if (settings.extraArgument) appendQuoted(command, "-e", *settings.extraArgument);
    return command;
}

std::optional<std::string> externalSymbolsFolder(DispatchContext& context) {
    if (auto folder = symbolsFromClipboard(context)) return folder;
    return symbolsFromTessiv(context);
}

bool launchAnalyzer(DispatchContext& context, const std::string& name) {
    AnalyzerCommand command = buildAnalyzerCommand(context, name, externalSymbolsFolder(context));
    if (command.commandLine.size() > kMaxCommandLine) {
        context.console.error(Msg::FailToLaunch, command.programFile);
        return false;
    }
    platform::ProcessResult result = context.services.startAndWait(command.programFile, command.argv);
    if (!result.started) {
        context.console.error(Msg::FailToLaunch, command.programFile);
        return false;
    }
    return true;
}

}  // namespace dispatcher

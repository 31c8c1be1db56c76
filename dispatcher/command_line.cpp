#include "dispatcher/command_line.h"

#include <climits>

#include "common/decimal.h"
#include <cstdio>

#include "dispatcher/option_word.h"
#include "platform/process.h"

namespace dispatcher {

namespace {

struct OptionEntry {
    const char* name;
    int operands;
};

// In the order they are tested.
constexpr OptionEntry kOptions[] = {
    {"-t", 0}, {"-cmm", 0}, {"-gdb", 0}, {"-lang", 1}, {"-ext", 1}, {"-e", 1},
    {"-s", 1}, {"-c", 1}, {"-setup", 0}, {"-uninstall", 0}, {"-ud", 2}, {"-h", 0},
};

const OptionEntry* findOption(const std::string& arg) {
    for (const auto& optionEntry : kOptions)
        if (arg == optionEntry.name) return &optionEntry;
    return nullptr;
}

void selectTable(DispatchContext& context) {
    if (opt::showsEnglish(context.settings.word)) context.catalog.select(Language::English);
}

// "eng" sets the language field to English, "tw" to traditional Chinese, which is shown in
// English too (there is no traditional table); other values change nothing.
void applyLanguage(const std::string& value, DispatchContext& context) {
    std::uint32_t field;
    if (value == "eng") field = 1;
    else if (value == "tw") field = 2;
    else return;
    std::uint32_t& word = context.settings.word;
    word = (word & ~opt::kLanguageMask) | (field << opt::kLanguageShift);
    context.catalog.select(Language::English);
}

// The bits are added to the word; a language field in them replaces the word's.
void applyExt(const std::string& value, DispatchContext& context) {
    auto bits = static_cast<std::uint32_t>(common::readDecimal(value));
    std::uint32_t& word = context.settings.word;
    if (bits & opt::kLanguageMask) word &= ~opt::kLanguageMask;
    word |= bits;
    selectTable(context);
}

// -ud: the previous Dispatcher, replaced by an update, is waited for and its file removed.
void awaitAndRemove(const std::string& process, const std::string& file, DispatchContext& context) {
    context.services.waitForProcess(process);
    std::remove(file.c_str());
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args, DispatchContext& context) {
    const std::string program = args.empty() ? std::string() : args[0];
    DispatchSettings& settings = context.settings;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const OptionEntry* optionEntry = findOption(arg);
        if (!optionEntry) {
            if (!arg.empty() && arg[0] == '-') {
                context.console.error(Msg::UnrecognizedArgument, arg);
                return CommandLine::Stop;
            }
            if (!platform::changeDirectory(arg)) {
                context.console.error(Msg::IncorrectDirectory, arg);
                return CommandLine::Stop;
            }
            context.services.setConsoleTitle(arg);
            continue;
        }
        if (args.size() - 1 - i < static_cast<std::size_t>(optionEntry->operands)) {
            context.console.error(Msg::OptionNeedsArguments, arg, optionEntry->operands);
            return CommandLine::Stop;
        }
        const std::string operand = optionEntry->operands > 0 ? args[i + 1] : std::string();
        if (arg == "-t") settings.word |= opt::kAllThreads;
        else if (arg == "-cmm") settings.word |= opt::kT32Script;
        else if (arg == "-gdb") settings.word |= opt::kGdbScript;
        else if (arg == "-lang") applyLanguage(operand, context);
        else if (arg == "-ext") applyExt(operand, context);
        else if (arg == "-e") settings.extraArgument = operand;
        else if (arg == "-s") settings.symbolsFolder = operand;
        else if (arg == "-c") settings.symcacheFolder = operand;
        else if (arg == "-setup") return CommandLine::Setup;
        else if (arg == "-uninstall") return CommandLine::Uninstall;
        else if (arg == "-ud") awaitAndRemove(operand, args[i + 2], context);
        else if (arg == "-h") {
            context.console.print(Msg::Usage, program);
            return CommandLine::Stop;
        }
        i += static_cast<std::size_t>(optionEntry->operands);
    }
    return CommandLine::Dispatch;
}

}  // namespace dispatcher

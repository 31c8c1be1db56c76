#include "analyzer/driver/options.h"

#include <climits>

#include "common/decimal.h"
#include <cstring>

#include "platform/process.h"

namespace coresift {

namespace {

enum class Operand { None, One };

struct OptionEntry {
    const char* name;
    Operand operand;
};

constexpr OptionEntry kOptions[] = {
    {"-t", Operand::None},  {"-cmm", Operand::None}, {"-gdb", Operand::None}, {"-lang", Operand::One},
    {"-leak", Operand::One}, {"-ext", Operand::One},  {"-e", Operand::One},    {"-s", Operand::One},
    {"-se", Operand::One},  {"-c", Operand::One},    {"-l", Operand::One},    {"-h", Operand::None},
};

const OptionEntry* findOption(const std::string& arg) {
    for (const auto& optionEntry : kOptions)
        if (arg == optionEntry.name) return &optionEntry;
    return nullptr;
}

void applyLanguage(const std::string& value, Options& options, MessageCatalog& catalog) {
    unsigned field;
    if (value == "eng") field = 1;
    else if (value == "tw") field = 2;
    else return;
    options.word = (options.word & ~opt::kLanguageMask) | (field << opt::kLanguageShift);
    catalog.selectEnglish();
}

void applyExt(const std::string& value, Options& options, MessageCatalog& catalog) {
    auto bits = static_cast<std::uint32_t>(common::readDecimal(value));
    if (bits & opt::kLanguageMask) options.word &= ~opt::kLanguageMask;
    options.word |= bits;
    unsigned field = options.languageField();
    if (field == 1 || field == 2) catalog.selectEnglish();
}

// Applies one option with its operand (empty for options without one).
void applyOption(const std::string& name, const std::string& operand, Options& options, MessageCatalog& catalog) {
    if (name == "-t") options.word |= opt::kAllThreads;
    else if (name == "-cmm") options.word |= opt::kT32Script;
    else if (name == "-gdb") options.word |= opt::kGdbScript;
    else if (name == "-lang") applyLanguage(operand, options, catalog);
    else if (name == "-leak") options.leakCount = common::readDecimal(operand);
    else if (name == "-ext") applyExt(operand, options, catalog);
    else if (name == "-e") options.eValue = operand;
    else if (name == "-s") { if (!operand.empty()) options.symbolsDir = operand; }
    else if (name == "-se") { if (!operand.empty()) options.externalSymbolsDir = operand; }
    else if (name == "-c") options.cValue = operand;
    else if (name == "-l") options.installDir = operand;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args, Options& options, MessageCatalog& catalog,
                             Console& console) {
    const std::string program = args.empty() ? std::string() : args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (const OptionEntry* optionEntry = findOption(arg)) {
            if (arg == "-h") {
                console.print(Msg::Usage, program.c_str());
                return CommandLine::Help;
            }
            std::string operand;
            if (optionEntry->operand == Operand::One) {
                if (i + 1 >= args.size()) {
                    console.error(Msg::OptionNeedsArguments, arg.c_str(), 1);
                    return CommandLine::Error;
                }
                operand = args[++i];
            }
            applyOption(arg, operand, options, catalog);
        } else if (!arg.empty() && arg[0] == '-') {
            console.error(Msg::UnrecognizedArgument, arg.c_str());
            return CommandLine::Error;
        } else if (!platform::changeDirectory(arg)) {
            console.error(Msg::IncorrectDirectory, arg.c_str());
            return CommandLine::Error;
        }
    }
    options.symbolsDirLength = options.symbolsDir.size();
    return CommandLine::Run;
}

}  // namespace coresift

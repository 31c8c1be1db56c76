#include "analyzer/unwind/module_symbols_bridge.h"

#include "analyzer/symbols/elf_image.h"
#include "analyzer/symbols/symbol_source.h"

namespace coresift {

void SymbolSourceDeleter::operator()(SymbolSource* source) const { delete source; }

OwnedSymbolSource makeModuleSymbolSource(Console& console, const ModuleSymbolFacts& facts) {
    OwnedSymbolSource source(new SymbolSource(console, facts.name, facts.loadBias));
    if (facts.symbolFilePath.empty()) return source;
    if (auto image = ElfImage::open(console, MappedFile::open(facts.symbolFilePath), elf::kSymbolFileTypes))
        source->setSymbolFile(std::make_unique<SymbolFile>(console, std::move(image)), facts.matched);
    return source;
}

}  // namespace coresift

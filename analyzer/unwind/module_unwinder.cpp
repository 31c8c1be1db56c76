#include "analyzer/unwind/module_unwinder.h"

#include "analyzer/unwind/cfi_program.h"
#include "analyzer/unwind/cfi_step.h"
#include "analyzer/unwind/pointer_auth.h"

namespace coresift::unwind {

struct ModuleUnwinder::DebugFrameSource {
    std::optional<SectionBytes> bytes;
    std::unique_ptr<DebugFrameTable> table;
};

ModuleTables tablesFromImage(const ElfImage& image, TargetWord loadBias, std::string name,
                             const ElfImage* miniDebugInfo) {
    ModuleTables tables;
    tables.name = std::move(name);
    tables.loadBias = loadBias;
    if (std::optional<ProgramHeader> header = image.findSegment(elf::kPtGnuEhFrame)) {
        tables.ehFrameHdr = static_cast<TargetWord>(header->vaddr) + loadBias;
        tables.ehFrameHdrSize = static_cast<TargetWord>(header->memsz);
    }
    if (std::optional<SectionHeader> section = image.findSection(coresift::elf::kShtProgbits, ".eh_frame")) {
        tables.ehFrame = static_cast<TargetWord>(section->addr) + loadBias;
        tables.ehFrameSize = static_cast<TargetWord>(section->size);
    }
    if (std::optional<ProgramHeader> exidx = image.findSegment(elf::kPtArmExidx)) {
        tables.exidx = static_cast<TargetWord>(exidx->vaddr) + loadBias;
        tables.exidxCount = static_cast<std::uint32_t>(exidx->memsz / 8);
    }
    tables.debugFrameFiles.push_back(&image);
    if (miniDebugInfo) tables.debugFrameFiles.push_back(miniDebugInfo);
    return tables;
}

ModuleUnwinder::ModuleUnwinder(ModuleTables tables) : tables_(std::move(tables)) {
    if (tables_.ehFrameHdr != 0 || tables_.ehFrame != 0)
        ehFrame_ = std::make_unique<EhFrameTable>(tables_.name, tables_.ehFrameHdr, tables_.ehFrameHdrSize,
                                                  tables_.ehFrame, tables_.ehFrameSize);
    if (!kIs64 && tables_.exidx != 0 && tables_.exidxCount != 0)
        exidx_ = std::make_unique<ExidxTable>(tables_.name, tables_.exidx, tables_.exidxCount);
}

ModuleUnwinder::~ModuleUnwinder() = default;

TargetWord ModuleUnwinder::lookupPc(const StepEnvironment& env, TargetWord pc) const {
    TargetWord address = stripPointerAuth(pc, env.addressBits);
    if constexpr (!kIs64) address &= ~TargetWord{1};
    return address;
}

// The `.debug_frame` of the index-th symbol file; the sections are mapped on first use. Reading a
// section may need to print (a damaged compressed section), so a silent environment reads none.
ModuleUnwinder::DebugFrameSource* ModuleUnwinder::debugFrame(const StepEnvironment& env, std::size_t index) {
    if (!debugFramesOpened_ && env.console) {
        debugFramesOpened_ = true;
        for (const ElfImage* file : tables_.debugFrameFiles) {
            auto source = std::make_unique<DebugFrameSource>();
            if (file) {
                if (std::optional<SectionHeader> header = file->findSection(coresift::elf::kShtProgbits, ".debug_frame")) {
                    source->bytes = file->mapSection(*env.console, *header);
                    if (source->bytes)
                        source->table = std::make_unique<DebugFrameTable>(file->name(), source->bytes->view());
                }
            }
            debugFrames_.push_back(std::move(source));
        }
    }
    return index < debugFrames_.size() ? debugFrames_[index].get() : nullptr;
}

StepResult ModuleUnwinder::stepDebugFrame(const StepEnvironment& env, RegisterState& registers) {
    StepResult result;
    result.source = StepSource::DebugFrame;
    const TargetWord filePc = lookupPc(env, registers.r[kPcRegister]) - tables_.loadBias;
    for (std::size_t i = 0; i < tables_.debugFrameFiles.size(); ++i) {
        DebugFrameSource* source = debugFrame(env, i);
        if (!source || !source->table) continue;
        FdeLookup lookup = source->table->find(env.console, filePc);
        if (lookup.kind == FdeLookup::Kind::None) continue;
        if (lookup.kind == FdeLookup::Kind::Bad) {
            result.status = StepStatus::Failed;
            continue;
        }
        StepResult stepped = stepWithFde(source->table->section(env.console), lookup.fde, filePc, *env.memory, registers);
        if (stepped.status != StepStatus::Failed) return stepped;
        result = stepped;
    }
    return result;
}

StepResult ModuleUnwinder::stepEhFrame(const StepEnvironment& env, RegisterState& registers) {
    StepResult result;
    result.source = StepSource::EhFrame;
    if (!ehFrame_) return result;
    const TargetWord pc = lookupPc(env, registers.r[kPcRegister]);
    FdeLookup lookup = ehFrame_->find(env, pc);
    if (lookup.kind == FdeLookup::Kind::Bad) result.status = StepStatus::Failed;
    if (lookup.kind != FdeLookup::Kind::Found) return result;
    return stepWithFde(ehFrame_->section(env), lookup.fde, pc, *env.memory, registers);
}

StepResult ModuleUnwinder::stepExidx(const StepEnvironment& env, RegisterState& registers) {
    if (!exidx_) {
        StepResult result;
        result.source = StepSource::Exidx;
        return result;
    }
    return exidx_->step(env, registers);
}

StepResult ModuleUnwinder::step(const StepEnvironment& env, RegisterState& registers) {
    StepResult outcome;
    for (auto source : {&ModuleUnwinder::stepDebugFrame, &ModuleUnwinder::stepEhFrame, &ModuleUnwinder::stepExidx}) {
        StepResult result = (this->*source)(env, registers);
        switch (result.status) {
            case StepStatus::Stepped:
            case StepStatus::Outermost: return result;
            case StepStatus::NoEntry: break;
            case StepStatus::CannotUnwind:
            case StepStatus::Failed:
                // The most telling failure is kept while the next source is tried.
                if (outcome.status == StepStatus::NoEntry) outcome = result;
                break;
        }
    }
    return outcome;
}

std::optional<CfiRowAt> ModuleUnwinder::cfiRowAt(const StepEnvironment& env, TargetWord pc, StepSource only) {
    const TargetWord runtimePc = lookupPc(env, pc);
    const TargetWord filePc = runtimePc - tables_.loadBias;
    const bool anySource = only == StepSource::None;
    for (std::size_t i = 0; (anySource || only == StepSource::DebugFrame) && i < tables_.debugFrameFiles.size(); ++i) {
        DebugFrameSource* source = debugFrame(env, i);
        if (!source || !source->table) continue;
        FdeLookup lookup = source->table->find(env.console, filePc);
        if (lookup.kind != FdeLookup::Kind::Found) continue;
        if (std::optional<CfiRow> row = rowForPc(source->table->section(env.console), lookup.fde, filePc))
            return CfiRowAt{*row, lookup.fde, StepSource::DebugFrame};
    }
    if (ehFrame_ && (anySource || only == StepSource::EhFrame)) {
        FdeLookup lookup = ehFrame_->find(env, runtimePc);
        if (lookup.kind == FdeLookup::Kind::Found) {
            if (std::optional<CfiRow> row = rowForPc(ehFrame_->section(env), lookup.fde, runtimePc))
                return CfiRowAt{*row, lookup.fde, StepSource::EhFrame};
        }
    }
    return std::nullopt;
}

std::optional<FunctionExtent> ModuleUnwinder::exidxFunctionAt(const StepEnvironment& env, TargetWord pc) {
    if (!exidx_) return std::nullopt;
    return exidx_->functionAt(env, lookupPc(env, pc));
}

}  // namespace coresift::unwind

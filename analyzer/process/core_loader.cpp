#include "analyzer/process/core_loader.h"

#include <algorithm>
#include <new>
#include <string>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/core_notes.h"
#include "analyzer/process/module_list_hook.h"
#include "analyzer/symbols/elf_image.h"
#include "analyzer/unwind/native_backtrace.h"
#include "analyzer/symbols/module_list.h"

namespace coresift {

namespace {

namespace rk = region_kind;

// One load of one dump, step by step. Every step returns false after printing its reason.
class CoreLoad {
public:
    CoreLoad(RunContext& context, std::shared_ptr<const MappedFile> file)
        : context_(context), console_(context.console), file_(std::move(file)) {}

    bool run() {
        return openImage() && readPageSize() && createProcessModel() && addLoadSegments() && walkNotes() &&
               checkNotes() && chooseMainThread() && releaseImage() && buildModules();
    }

private:
    bool openImage() {
        image_ = ElfImage::open(console_, file_, elf::kCoreTypes);
        return image_ != nullptr;
    }

    // The dump's page size, from AT_PAGESZ of the first NT_AUXV note. A dump without NT_AUXV is
    // refused without a message of its own.
    bool readPageSize() {
        bool sawAuxv = false;
        TargetWord pageSize = 0;
        image_->forEachNote(console_, [&](const Note& note) {
            if (note.type != note_type::kAuxv) return 0;
            sawAuxv = true;
            pageSize = auxvValue(note.desc, auxv_type::kPageSize).value_or(0);
            return 1;
        });
        if (!sawAuxv) return false;
        if (!supportedPageSize(pageSize)) {
            console_.error(Msg::UnsupportedPageSize, pageSize);
            return false;
        }
        pageSize_ = pageSize;
        return true;
    }

    // The highest end of any load segment with memory.
    std::uint64_t addressSpaceTop() const {
        std::uint64_t top = 0;
        image_->forEachLoad([&](const ProgramHeader& load) {
            std::uint64_t end = load.vaddr + load.memsz;
            if (end < load.vaddr) end = ~std::uint64_t{0};
            top = std::max(top, end);
            return 0;
        });
        return top;
    }

    bool createProcessModel() {
        std::uint64_t top = addressSpaceTop();
        try {
            auto core = std::make_unique<CoreDump>();
            core->dumpFileName = file_->path();
            core->pageSize = pageSize_;
            core->mmu = debuggerMmuFor(pageSize_, top);
            unsigned pageShift = 0;
            while ((TargetWord{1} << pageShift) < pageSize_) ++pageShift;
            context_.addressSpace = std::make_unique<AddressSpace>(console_, file_->path(), file_->bytes(), file_,
                                                                   addressBitsFor(top), pageShift);
            context_.core = std::move(core);
            notes_ = std::make_unique<NoteWalk>(NoteWalk{console_, *context_.core, *context_.addressSpace});
        } catch (const std::bad_alloc&) {
            console_.warning(Msg::OutOfMemory);
            return false;
        }
        return true;
    }

    // Every PT_LOAD with memory becomes a region, the last header first, so that where segments
    // overlap the first header's region owns the shared pages.
    bool addLoadSegments() {
        AddressSpace& space = *context_.addressSpace;
        int failed = image_->forEachLoad([&](const ProgramHeader& load) {
            auto start = static_cast<TargetWord>(load.vaddr);
            auto size = static_cast<TargetWord>(load.memsz);
            bool fits = start == load.vaddr && size == load.memsz;
            std::uint32_t permissions = (load.flags & 7) * 16;
            DumpRange bytes{load.offset, load.filesz};
            if (!fits) {
                console_.error(Msg::IncorrectAddress, file_->path(), "PT_LOAD", start);
                return 1;
            }
            return space.addRegion(start, size, permissions, bytes) ? 0 : 1;
        });
        return failed == 0;
    }

    bool walkNotes() {
        int result = image_->forEachNote(console_, [&](const Note& note) {
            return handleCoreNote(*notes_, note.type, note.desc) ? 0 : 1;
        });
        return result == 0;
    }

    bool checkNotes() {
        if (!notes_->sawPrStatus) {
            console_.error(Msg::NoThread, file_->path());
            return false;
        }
        if (!notes_->sawPrPsInfo) {
            console_.error(Msg::NoteMissing, "NT_PRPSINFO");
            return false;
        }
        return true;
    }

    // The thread whose tid is the process id is the main thread. Without one, the first thread
    // in table order whose stack pointer lies in "[stack]" is, and gives the process id.
    bool chooseMainThread() {
        CoreDump& core = *context_.core;
        ThreadRecord* main = core.pid ? core.threads.find(core.pid) : nullptr;
        if (!main) {
            core.threads.forEach([&](ThreadRecord& thread) {
                MapEntry* region = context_.addressSpace->regionAt(thread.registers.sp());
                if (!region || region->name != "[stack]") return 0;
                main = &thread;
                return 1;
            });
            if (main) core.pid = main->tid;
        }
        if (main) main->flags |= thread_flag::kMain;
        return true;
    }

    bool releaseImage() {
        image_.reset();
        file_.reset();  // the address space keeps its own reference
        return true;
    }

    bool buildModules() {
        switch (buildModuleList(context_)) {
            case ModuleListResult::Built: return true;
            case ModuleListResult::Failed: return false;
            case ModuleListResult::NoLinker: return loadExecutableOnly();
        }
        return false;
    }

    // A process without a dynamic linker list: its only module is the executable, at the lowest
    // region that is not writable, and its symbol file is required.
    bool loadExecutableOnly() {
        CoreDump& core = *context_.core;
        MapEntry* head = nullptr;
        context_.addressSpace->forEachRegion(0, ~TargetWord{0}, [&](MapEntry& region) {
            if (region.kind & rk::kWrite) return 0;
            head = &region;
            return 1;
        });
        if (!head) {
            console_.error(Msg::FailToFindSegment, core.executableBaseName(), "EXEC");
            return false;
        }
        core.flags |= core_flag::kExecutableOnly;
        if (loadExecutableModule(context_, head->start)) return true;
        console_.printMessage(kToStdout, static_cast<int>(Msg::ErrorPrefix), Msg::NoSymbolsIn, core.executablePath);
        return false;
    }

    RunContext& context_;
    Console& console_;
    std::shared_ptr<const MappedFile> file_;
    std::unique_ptr<ElfImage> image_;
    TargetWord pageSize_ = 0;
    std::unique_ptr<NoteWalk> notes_;
};

}  // namespace

bool loadCoreFile(RunContext& context, std::shared_ptr<const MappedFile> file) {
    bool loaded = CoreLoad(context, std::move(file)).run();
    if (!loaded) {
        teardownProcess(context);
        context.console.printMessage(kToStdout, kNoPrefix, "Error when parsing coredump\n");
    }
    return loaded;
}

bool loadCoreDump(RunContext& context) {
    for (const char* name : kDumpFileNames) {
        auto file = MappedFile::open(name);
        if (!file) continue;
        context.console.print(Msg::Loading, name);
        return loadCoreFile(context, std::move(file));
    }
    context.console.printMessage(kToStdout, static_cast<int>(Msg::ErrorPrefix), Msg::NoCoredump);
    return false;
}

void teardownProcess(RunContext& context) {
    releaseNativeBacktrace(context);
    context.moduleList.reset();
    context.core.reset();
    context.addressSpace.reset();
}

}  // namespace coresift

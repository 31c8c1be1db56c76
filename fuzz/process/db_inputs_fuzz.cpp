// libFuzzer target: any bytes as one of the exception db's text files. The first byte picks the
// reader, the rest is the file's text; the readers work on a small made-up process.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "analyzer/process/db_text.h"
#include "analyzer/process/file_state.h"
#include "analyzer/process/internal_record.h"
#include "analyzer/process/page_map.h"
#include "analyzer/process/process_maps.h"
#include "analyzer/process/process_table.h"
#include "analyzer/process/property_table.h"

namespace {

namespace rk = coresift::region_kind;

std::vector<std::uint8_t> gDump(0x1000);

void makeProcess(coresift::RunContext& context) {
    auto core = std::make_unique<coresift::CoreDump>();
    core->pid = 538;
    core->ppid = 31686;
    core->pageSize = 4096;
    for (std::uint32_t tid : {538u, 540u, 541u}) {
        auto thread = std::make_unique<coresift::ThreadRecord>();
        thread->tid = tid;
        core->threads.add(std::move(thread));
    }
    context.core = std::move(core);
    auto space = std::make_unique<coresift::AddressSpace>(context.console, "PROCESS_COREDUMP",
                                                          common::ByteView(gDump.data(), gDump.size()), nullptr,
                                                          kIs64 ? 39 : 32, 12);
    space->addRegion(0x400000, 0xb0000, rk::kRead | rk::kExecute, {});
    space->addRegion(0x500000, 0x2000, rk::kRead | rk::kWrite, {});
    space->addRegion(0x7ffe0000, 0x10000, rk::kRead | rk::kWrite, {});
    context.addressSpace = std::move(space);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    coresift::RunContext context(sink, sink);
    context.catalog.selectEnglish();
    makeProcess(context);
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 6) {
        case 0:
            coresift::exceptionTimeOf(text);
            break;
        case 1: {
            coresift::FdTable table;
            coresift::readFileState(context, text, data[0] & 0x80 ? 9 : 1, table);
            break;
        }
        case 2:
            coresift::readProcessTable(context, text);
            break;
        case 3:
            coresift::readProcessMaps(context, text, 4096);
            break;
        case 4: {
            coresift::PropertyTable table;
            coresift::readProperties(context, text, table);
            table.find("ro.build.type");
            table.find(text.substr(0, 32));
            break;
        }
        case 5:
            coresift::summaryInfo(text, 0x400000, 12);
            coresift::summaryInfo(text, 0x7ffe1000, kIs64 ? 14 : 12);
            break;
    }
    return 0;
}

// A run context holding a made-up process: the process record with threads, and (on demand) an
// address space over a blank dump; the console captured with English texts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/address_space.h"
#include "analyzer/process/core_dump.h"
#include "tests/support/run_capture.h"

namespace processtest {

class ProcessTest : public ::testing::Test {
protected:
    ProcessTest() {
        context().catalog.selectEnglish();
        context().core = std::make_unique<coresift::CoreDump>();
        core().pageSize = 4096;
    }

    coresift::RunContext& context() { return run_.context(); }
    coresift::CoreDump& core() { return *context().core; }

    // Adds threads with these tids; the first one is the thread that took the signal.
    void addThreads(std::initializer_list<std::uint32_t> tids) {
        for (std::uint32_t tid : tids) {
            auto thread = std::make_unique<coresift::ThreadRecord>();
            thread->tid = tid;
            if (core().threadCount == 0) thread->flags |= coresift::thread_flag::kFirst;
            coresift::ThreadRecord* stored = nullptr;
            ASSERT_EQ(core().threads.add(std::move(thread), &stored), coresift::ThreadTable::AddResult::Added);
            if (core().threadCount++ == 0) core().firstThread = stored;
        }
    }
    coresift::ThreadRecord& thread(std::uint32_t tid) {
        coresift::ThreadRecord* found = core().threads.find(tid);
        EXPECT_NE(found, nullptr) << tid;
        return *found;
    }

    // An address space of 39 (AArch64) or 32 address bits with 4 KiB pages over a blank dump.
    coresift::AddressSpace& space() {
        if (!context().addressSpace) {
            dump_.assign(0x10000, 0);
            context().addressSpace = std::make_unique<coresift::AddressSpace>(
                context().console, "PROCESS_COREDUMP", common::ByteView(dump_.data(), dump_.size()), nullptr,
                kIs64 ? 39 : 32, 12);
        }
        return *context().addressSpace;
    }

    std::string out() const { return run_.out(); }
    std::string err() const { return run_.err(); }

    std::vector<std::uint8_t> dump_;  // outlives the address space in run_
    testsupport::RunCapture run_;
};

}  // namespace processtest

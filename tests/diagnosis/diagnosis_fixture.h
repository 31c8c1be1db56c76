// A made-up crashed process for the crash verdict and the instruction listing: a code region, a
// data region, a stack, a read-only region and an unnamed gap, the crashed thread's registers,
// frames and symbols supplied by the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/diagnosis/code_symbols.h"
#include "analyzer/diagnosis/crash_stack.h"
#include "analyzer/diagnosis/crash_verdict.h"
#include "analyzer/driver/report_writer.h"
#include "analyzer/process/address_space.h"
#include "tests/process/process_fixture.h"

namespace diagnosistest {

namespace rk = coresift::region_kind;

// Region layout (4 KiB each unless said): code r-x, data rw-, stack rw- (two pages), read-only r--.
inline constexpr TargetWord kCode = 0x10000;
inline constexpr TargetWord kData = 0x20000;
inline constexpr TargetWord kStack = 0x30000;
inline constexpr TargetWord kReadOnly = 0x50000;
inline constexpr TargetWord kSpecial = 0x60000;  // named by the test

class FakeStack final : public coresift::CrashStack {
public:
    const std::vector<coresift::CrashFrame>& crashFrames() override { return frames; }
    std::vector<coresift::CrashFrame> frames;
};

// Functions by address range; source lines by address; values as hexadecimal.
class FakeSymbols final : public coresift::CodeSymbols {
public:
    bool hasSymbolFile(TargetWord address) override { return address >= kCode && address < kCode + 0x1000; }
    std::optional<coresift::FunctionExtent> functionAt(TargetWord address) override {
        for (const auto& f : functions)
            if (address >= (f.start & ~TargetWord{1}) && address < (f.start & ~TargetWord{1}) + (f.size ? f.size : 0x100))
                return f;
        return std::nullopt;
    }
    std::optional<coresift::SourcePosition> lineAt(TargetWord address) override {
        auto it = lines.find(address);
        if (it == lines.end()) return std::nullopt;
        return it->second;
    }
    std::string formatValue(TargetWord value) override {
        char text[32];
        std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
        return text;
    }
    std::vector<coresift::FunctionExtent> functions;
    std::map<TargetWord, coresift::SourcePosition> lines;
};

class DiagnosisTest : public processtest::ProcessTest {
protected:
    DiagnosisTest() {
        addThreads({1234});
        context().platform.androidVersion = 12;  // P: no Dalvik-era rules
        space();
        add(kCode, 0x1000, rk::kRead | rk::kExecute, 0x0000);
        add(kData, 0x1000, rk::kRead | rk::kWrite, 0x1000);
        add(kStack, 0x2000, rk::kRead | rk::kWrite, 0x2000);
        add(kReadOnly, 0x1000, rk::kRead, 0x4000);
        auto stack = std::make_unique<FakeStack>();
        stack_ = stack.get();
        context().crashStack = std::move(stack);
    }

    void add(TargetWord start, TargetWord size, std::uint32_t perms, std::uint64_t offset) {
        ASSERT_TRUE(space().addRegion(start, size, perms, {offset, size}));
    }
    // Writes bytes into the dump behind the region that starts at `regionStart` (at `address`).
    void poke(TargetWord address, const void* bytes, std::size_t size) {
        std::uint64_t offset = 0;
        if (address >= kSpecial) offset = 0x5000 + (address - kSpecial);
        else if (address >= kReadOnly) offset = 0x4000 + (address - kReadOnly);
        else if (address >= kStack) offset = 0x2000 + (address - kStack);
        else if (address >= kData) offset = 0x1000 + (address - kData);
        else offset = address - kCode;
        ASSERT_LE(offset + size, dump_.size());
        std::memcpy(dump_.data() + offset, bytes, size);
    }
    void code(TargetWord address, std::initializer_list<std::uint32_t> words) {
        for (std::uint32_t w : words) {
            poke(address, &w, 4);
            address += 4;
        }
    }
    void thumb(TargetWord address, std::initializer_list<std::uint16_t> halves) {
        for (std::uint16_t h : halves) {
            poke(address, &h, 2);
            address += 2;
        }
    }
    void word(TargetWord address, TargetWord value) { poke(address, &value, sizeof value); }

    coresift::RegisterSet& regs() { return thread(1234).registers; }
    void setPc(TargetWord pc) { regs().r[coresift::RegisterSet::kPc] = pc; }

    // A frame with a name in a module, registers as the thread's (all known) for the innermost.
    coresift::CrashFrame& addFrame(std::string function, std::string module = "libfoo.so", TargetWord pc = 0) {
        coresift::CrashFrame frame;
        frame.function = std::move(function);
        frame.module = std::move(module);
        frame.pc = pc;
        stack_->frames.push_back(frame);
        return stack_->frames.back();
    }
    std::vector<coresift::CrashFrame>& frames() { return stack_->frames; }

    std::string verdict() {
        coresift::ReportWriter report(context().catalog);
        coresift::writeCrashVerdict(context(), report);
        EXPECT_EQ(report.formatMismatches(), 0u);
        return report.collected();
    }

    FakeStack* stack_ = nullptr;
};

}  // namespace diagnosistest

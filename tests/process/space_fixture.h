// An address space over a made-up dump, with the analyzer's console captured (English texts).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/process/address_space.h"
#include "common/target_word.h"
#include "tests/support/run_capture.h"

namespace processtest {

namespace rk = coresift::region_kind;

// The default address width of the tests: 32 bits, or the smaller AArch64 space.
inline constexpr unsigned kBits = kIs64 ? 39 : 32;

class SpaceTest : public ::testing::Test {
protected:
    // A dump of `pages` 4 KiB pages; every byte holds (page number + 1) * 16 + (offset & 15).
    void makeDump(std::size_t pages) {
        dump_.resize(pages * 4096);
        for (std::size_t i = 0; i < dump_.size(); ++i)
            dump_[i] = static_cast<std::uint8_t>((i / 4096 + 1) * 16 + (i & 15));
    }
    static std::uint8_t dumpByte(std::uint64_t offset) {
        return static_cast<std::uint8_t>((offset / 4096 + 1) * 16 + (offset & 15));
    }

    coresift::AddressSpace& space(unsigned pageShift = 12, unsigned bits = kBits) {
        if (!space_) {
            run_.context().catalog.selectEnglish();
            space_ = std::make_unique<coresift::AddressSpace>(run_.context().console, "PROCESS_COREDUMP",
                                                              common::ByteView(dump_.data(), dump_.size()), nullptr,
                                                              bits, pageShift);
        }
        return *space_;
    }

    // Adds a region whose bytes are the whole of it at `offset`, or none when `offset` is negative.
    bool add(TargetWord start, TargetWord size, std::uint32_t perms, long long offset = -1) {
        coresift::DumpRange bytes;
        if (offset >= 0) bytes = {static_cast<std::uint64_t>(offset), size};
        return space().addRegion(start, size, perms, bytes);
    }

    std::vector<std::uint8_t> read(TargetWord address, std::size_t length) {
        std::vector<std::uint8_t> bytes(length, 0xEE);
        if (!space().readMemory(address, bytes.data(), length)) return {};
        return bytes;
    }

    // "start-end kind" for every region, in address order.
    std::vector<std::string> layout() {
        std::vector<std::string> lines;
        space().walkRegions(0, ~TargetWord{0}, [&](TargetWord start, TargetWord end, std::uint32_t kind) {
            char text[80];
            std::snprintf(text, sizeof text, "%llx-%llx %x", static_cast<unsigned long long>(start),
                          static_cast<unsigned long long>(end), kind);
            lines.emplace_back(text);
            return 0;
        });
        return lines;
    }

    std::string err() const { return run_.err(); }
    std::string out() const { return run_.out(); }

    testsupport::RunCapture run_;
    std::vector<std::uint8_t> dump_;
    std::unique_ptr<coresift::AddressSpace> space_;
};

}  // namespace processtest

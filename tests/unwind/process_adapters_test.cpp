// The unwinder's seams over the process model: memory views of the address space, and the first
// frame's registers from a thread's saved set.
#include <gtest/gtest.h>

#include "analyzer/unwind/process_adapters.h"
#include "tests/process/space_fixture.h"

namespace {

using namespace coresift::unwind;

class AddressSpaceSeam : public processtest::SpaceTest {};

TEST_F(AddressSpaceSeam, ViewsRunToTheEndOfTheRegion) {
    makeDump(4);
    ASSERT_TRUE(add(0x10000, 0x2000, 0x50, 0));
    ASSERT_TRUE(add(0x12000, 0x1000, 0x60, 0x2000));
    const AddressSpaceMemory memory(space());
    const common::ByteView view = memory.bytesAt(0x10010);
    ASSERT_EQ(view.size(), 0x1FF0u);
    EXPECT_EQ(view.data()[0], dumpByte(0x10));
    EXPECT_EQ(view.data()[0x1FEF], dumpByte(0x1FFF));
    EXPECT_TRUE(memory.bytesAt(0x30000).empty());
    // A word across two regions is not read, even where they touch.
    std::uint32_t word = 0;
    EXPECT_FALSE(memory.read32(0x11FFE, word));
    EXPECT_TRUE(memory.read32(0x11FFC, word));
    EXPECT_TRUE(memory.contains(0x12FFF));
    if constexpr (kIs64) {
        EXPECT_EQ(memory.bytesAt(0xB400000000010010ull).data(), view.data());  // the tag byte is ignored
    }
}

TEST(ThreadRegisters, EveryRegisterKnownAndThumbOnThePc) {
    coresift::RegisterSet saved;
    for (unsigned reg = 0; reg < coresift::RegisterSet::kCount; ++reg) saved.r[reg] = 0x1000 + 4 * reg;
    saved.r[coresift::RegisterSet::kStatus] = coresift::RegisterSet::kForcedStatusBits | coresift::RegisterSet::kThumbBit;
    const RegisterState regs = threadRegisters(saved);
    EXPECT_EQ(regs.valid, RegisterState::kAll);
    EXPECT_EQ(regs.r[coresift::RegisterSet::kSp], saved.sp());
    EXPECT_EQ(regs.r[coresift::RegisterSet::kPc], kIs64 ? saved.pc() : saved.pc() | 1);
    saved.r[coresift::RegisterSet::kStatus] = coresift::RegisterSet::kForcedStatusBits;
    EXPECT_EQ(threadRegisters(saved).r[coresift::RegisterSet::kPc], saved.pc());
}

}  // namespace

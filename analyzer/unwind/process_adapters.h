// The unwinder's seams as the process model fills them: target memory over the address space,
// and a frame's registers from a thread's saved registers.
#pragma once

#include "analyzer/process/address_space.h"
#include "analyzer/process/register_set.h"
#include "analyzer/unwind/unwind_memory.h"
#include "analyzer/unwind/unwind_step.h"

namespace coresift::unwind {

// Unwind memory over the dead process's address space: the bytes from an address to the end of
// its region (dump bytes, or the module file's where the dump has none). AArch64 tags are
// ignored, as the address space ignores them.
class AddressSpaceMemory final : public UnwindMemory {
public:
    explicit AddressSpaceMemory(AddressSpace& space) : space_(space) {}
    common::ByteView bytesAt(TargetWord address) const override;

private:
    AddressSpace& space_;
};

// The first frame's registers: every general register, SP and PC known, numbered as the saved
// set numbers them; in CoreSift a thread stopped in Thumb state has bit 0 of its pc set.
RegisterState threadRegisters(const RegisterSet& saved);

}  // namespace coresift::unwind

#include "analyzer/unwind/process_adapters.h"

#include "analyzer/process/map_entry.h"

namespace coresift::unwind {

common::ByteView AddressSpaceMemory::bytesAt(TargetWord address) const {
    MapEntry* region = space_.regionAt(address);
    if (!region) return {};
    const TargetWord at = AddressSpace::untag(address);
    if (!region->contains(at)) return {};
    const TargetWord length = region->end - at;
    const std::uint8_t* bytes = space_.regionBytes(*region, at, length);
    return bytes ? common::ByteView(bytes, static_cast<std::size_t>(length)) : common::ByteView();
}

RegisterState threadRegisters(const RegisterSet& saved) {
    static_assert(RegisterSet::kCoreCount == decode::kValueRegisterCount, "register numbering differs");
    RegisterState registers;
    for (unsigned reg = 0; reg < RegisterSet::kCoreCount; ++reg) registers.set(reg, saved.r[reg]);
    if (!kIs64 && (saved.status() & RegisterSet::kThumbBit)) registers.r[RegisterSet::kPc] |= 1;
    return registers;
}

}  // namespace coresift::unwind

// Calls through linker stubs (PLT entries) print the function the stub jumps to. Checked on the
// stubs the Debian cross linkers write (GNU ld and ld.lld, ARM and Thumb callers).
#include "common/target_word.h"
#if CORESIFT_TARGET_BITS == 32

#include <gtest/gtest.h>

#include <algorithm>

#include "analyzer/decode/linker_stub.h"
#include "tests/decode/decode_support.h"

namespace {

using namespace coresift::decode;
using decodetest::FakeMemory;
using decodetest::FakeNamer;

constexpr std::uint32_t kRelJumpSlot = 22;

// The GOT slot of each PLT relocation (R_ARM_JUMP_SLOT) with its symbol's name.
std::vector<std::pair<std::uint32_t, std::string>> jumpSlots(const decodetools::ElfFile& elf) {
    std::vector<std::pair<std::uint32_t, std::string>> slots;
    const decodetools::Section* rel = elf.find(".rel.plt");
    const decodetools::Section* dynsym = elf.find(".dynsym");
    const decodetools::Section* dynstr = elf.find(".dynstr");
    if (!rel || !dynsym || !dynstr) return slots;
    const common::ByteView entries = elf.contents(*rel), symbols = elf.contents(*dynsym), names = elf.contents(*dynstr);
    for (std::size_t at = 0; at + 8 <= entries.size(); at += 8) {
        const std::uint32_t offset = *entries.read<std::uint32_t>(at), info = *entries.read<std::uint32_t>(at + 4);
        if ((info & 0xFF) != kRelJumpSlot) continue;
        const auto nameOffset = symbols.read<std::uint32_t>(16 * (info >> 8));
        const auto name = nameOffset ? names.cstring(*nameOffset) : std::nullopt;
        slots.emplace_back(offset, name ? std::string(*name) : std::string());
    }
    return slots;
}

// For each fixture: every PLT entry resolves to exactly the GOT slot its relocation names, and a
// call from `caller` prints the function whose address the loader put in that slot.
void checkStubs(const char* fixture, TargetWord callerThumbBit) {
    const std::string path = decodetest::decodeFixture(fixture);
    if (path.empty()) GTEST_SKIP() << fixture << " was not built (cross toolchain missing)";
    const decodetools::ElfFile elf = decodetest::readElf(path);
    ASSERT_TRUE(elf.ok());
    FakeMemory memory;
    ASSERT_TRUE(decodetest::loadSections(elf, memory));
    const auto slots = jumpSlots(elf);
    ASSERT_GE(slots.size(), 2u) << fixture;

    // Resolve each entry of .plt (the 16/20-byte header comes first and is no stub).
    const decodetools::Section* plt = elf.find(".plt");
    ASSERT_NE(plt, nullptr);
    std::vector<std::uint32_t> found;
    for (TargetWord entry = static_cast<TargetWord>(plt->address); entry + 12 <= plt->address + plt->size; entry += 4) {
        if (auto slot = linkerStubSlot(memory, entry)) found.push_back(*slot);
    }
    for (const auto& [slot, name] : slots)
        EXPECT_NE(std::find(found.begin(), found.end(), slot), found.end()) << fixture << ": no stub for " << name;

    // Fill the slots as the dynamic linker would, and disassemble the calls in `caller`.
    FakeNamer namer;
    TargetWord fake = 0x40000000;
    for (const auto& [slot, name] : slots) {
        memory.addWords(slot, {static_cast<std::uint32_t>(fake)});
        namer.add(fake, 0x100, name);
        fake += 0x1000;
    }
    const std::vector<decodetools::Symbol> symbols = elf.symbols();
    auto caller = std::find_if(symbols.begin(), symbols.end(), [](const decodetools::Symbol& s) { return s.name == "caller"; });
    ASSERT_NE(caller, symbols.end());
    std::vector<std::string> calls;
    const InstructionSet set = callerThumbBit ? InstructionSet::Thumb : InstructionSet::Arm;
    for (TargetWord at = static_cast<TargetWord>(caller->value & ~1ull); at < (caller->value & ~1ull) + caller->size;) {
        std::uint32_t word = 0;
        if (set == InstructionSet::Thumb) {
            std::uint16_t first = 0, second = 0;
            memory.read16(at, first);
            if (thumbLength(first) == 4) memory.read16(at + 2, second);
            word = first | (std::uint32_t{second} << 16);
        } else {
            memory.read32(at, word);
        }
        TextSink out;
        const unsigned length = printInstruction(set, word, at, out, &memory, &namer);
        if (out.view().rfind("BL", 0) == 0) calls.emplace_back(out.view());
        at += length;
    }
    ASSERT_EQ(calls.size(), 2u) << fixture;
    for (const std::string& call : calls) EXPECT_NE(call.find("<external_"), std::string::npos) << fixture << ": " << call;
    EXPECT_NE(calls[0].find("() + 0>"), std::string::npos) << calls[0];
}

TEST(LinkerStubs, GnuLdArmCallers) { checkStubs("gnu_arm_stubs.so", 0); }
TEST(LinkerStubs, GnuLdThumbCallers) { checkStubs("gnu_thumb_stubs.so", 1); }
TEST(LinkerStubs, LldArmCallers) { checkStubs("lld_arm_stubs.so", 0); }
TEST(LinkerStubs, LldThumbCallers) { checkStubs("lld_thumb_stubs.so", 1); }

TEST(LinkerStubs, LayoutsAndRejections) {
    FakeMemory memory;
    // The GNU entry: ADD IP, PC, #0 ; ADD IP, IP, #0x1000 ; LDR PC, [IP, #0xD2C]!
    memory.addWords(0x2E0, {0xE28FC600, 0xE28CCA01, 0xE5BCFD2C});
    EXPECT_EQ(linkerStubSlot(memory, 0x2E0), TargetWord{0x2014});
    // The long entry with a third ADD, and the LLVM long form with a literal offset.
    memory.addWords(0x3000, {0xE28FC601, 0xE28CCA02, 0xE28CC003, 0xE5BCF004});
    EXPECT_EQ(linkerStubSlot(memory, 0x3000), TargetWord{0x3000 + 8 + 0x100000 + 0x2000 + 3 + 4});
    memory.addWords(0x4000, {0xE59FC004, 0xE08CC00F, 0xE59CF000, 0x00001234});
    EXPECT_EQ(linkerStubSlot(memory, 0x4000), TargetWord{0x4000 + 12 + 0x1234});
    // A Thumb caller's BX PC ; NOP before an ARM entry.
    memory.addHalfwords(0x5000, {0x4778, 0x46C0});
    memory.addWords(0x5004, {0xE28FC600, 0xE28CCA01, 0xE5BCF000});
    EXPECT_EQ(linkerStubSlot(memory, 0x5001), TargetWord{0x5004 + 8 + 0x1000});
    // Word orders that are no stub, and entries cut off by the end of the memory.
    memory.addWords(0x6000, {0xE28CCA01, 0xE28FC600, 0xE5BCF000});
    EXPECT_FALSE(linkerStubSlot(memory, 0x6000).has_value());
    memory.addWords(0x7000, {0xE28FC600, 0xE28CCA01});
    EXPECT_FALSE(linkerStubSlot(memory, 0x7000).has_value());
    EXPECT_FALSE(linkerStubSlot(memory, 0x9000).has_value());
    // A stub whose slot cannot be read keeps the plain target.
    EXPECT_FALSE(linkerStubTarget(memory, 0x2E0).has_value());
    EXPECT_EQ(decodetest::print(InstructionSet::Arm, 0xEBFFFFFE, 0x2E0, &memory), "BL 2E0");
}

}  // namespace

#endif

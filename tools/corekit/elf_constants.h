// ELF numbers that cores and their symbol files use: file types, machines, program header types,
// segment flags, note types and auxiliary-vector keys. Only what the kit reads or writes.
#pragma once

#include <cstdint>

namespace corekit::elf {

// e_ident
inline constexpr std::uint8_t kClass32 = 1;
inline constexpr std::uint8_t kClass64 = 2;
inline constexpr std::uint8_t kDataLittle = 1;

// e_type
inline constexpr std::uint16_t ET_EXEC = 2;
inline constexpr std::uint16_t ET_DYN = 3;
inline constexpr std::uint16_t ET_CORE = 4;

// e_machine
inline constexpr std::uint16_t EM_ARM = 40;
inline constexpr std::uint16_t EM_AARCH64 = 183;

// p_type
inline constexpr std::uint32_t PT_NULL = 0;
inline constexpr std::uint32_t PT_LOAD = 1;
inline constexpr std::uint32_t PT_DYNAMIC = 2;
inline constexpr std::uint32_t PT_INTERP = 3;
inline constexpr std::uint32_t PT_NOTE = 4;
inline constexpr std::uint32_t PT_PHDR = 6;
inline constexpr std::uint32_t PT_GNU_EH_FRAME = 0x6474E550;
inline constexpr std::uint32_t PT_ARM_EXIDX = 0x70000001;

// p_flags
inline constexpr std::uint32_t PF_X = 1;
inline constexpr std::uint32_t PF_W = 2;
inline constexpr std::uint32_t PF_R = 4;

// sh_type
inline constexpr std::uint32_t SHT_PROGBITS = 1;
inline constexpr std::uint32_t SHT_SYMTAB = 2;
inline constexpr std::uint32_t SHT_STRTAB = 3;
inline constexpr std::uint32_t SHT_DYNAMIC = 6;
inline constexpr std::uint32_t SHT_NOBITS = 8;
inline constexpr std::uint32_t SHT_DYNSYM = 11;
inline constexpr std::uint32_t SHT_INIT_ARRAY = 14;
inline constexpr std::uint32_t SHT_FINI_ARRAY = 15;
inline constexpr std::uint32_t SHT_PREINIT_ARRAY = 16;

// symbol types (low nibble of st_info)
inline constexpr std::uint8_t STT_NOTYPE = 0;
inline constexpr std::uint8_t STT_OBJECT = 1;
inline constexpr std::uint8_t STT_FUNC = 2;

// Core note types. Names: "CORE" for the process notes, "LINUX" for the architecture register sets.
inline constexpr std::uint32_t NT_PRSTATUS = 1;
inline constexpr std::uint32_t NT_PRFPREG = 2;
inline constexpr std::uint32_t NT_PRPSINFO = 3;
inline constexpr std::uint32_t NT_AUXV = 6;
inline constexpr std::uint32_t NT_ARM_VFP = 0x400;
inline constexpr std::uint32_t NT_ARM_TLS = 0x401;
inline constexpr std::uint32_t NT_ARM_TAGGED_ADDR_CTRL = 0x409;
inline constexpr std::uint32_t NT_FILE = 0x46494C45;
inline constexpr std::uint32_t NT_SIGINFO = 0x53494749;

// Auxiliary-vector keys.
inline constexpr std::uint64_t AT_NULL = 0;
inline constexpr std::uint64_t AT_PHDR = 3;
inline constexpr std::uint64_t AT_PHENT = 4;
inline constexpr std::uint64_t AT_PHNUM = 5;
inline constexpr std::uint64_t AT_PAGESZ = 6;
inline constexpr std::uint64_t AT_BASE = 7;
inline constexpr std::uint64_t AT_ENTRY = 9;
inline constexpr std::uint64_t AT_RANDOM = 25;
inline constexpr std::uint64_t AT_EXECFN = 31;

}  // namespace corekit::elf

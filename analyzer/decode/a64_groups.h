// The A64 front-end's pattern groups, defined in the files of their encoding classes.
// CoreSift64 only.
#pragma once

#include "analyzer/decode/pattern_table.h"

namespace coresift::decode::a64 {

// Register field 31 means SP for some operands and the zero register for others.
constexpr unsigned spOr(unsigned field) { return field == 31 ? kRegSp : field; }
constexpr unsigned zrOr(unsigned field) { return field == 31 ? kRegNone : field; }
// Operand size template from the sf bit: 32-bit (W) or 64-bit (X) destination and sources.
constexpr std::uint32_t sizeTemplate(bool sf) { return sf ? sizes(kDouble, kDouble) : sizes(kWord, kWord); }

extern const PatternGroup kPcRelativeAndAddGroup;      // 1000
extern const PatternGroup kLogicalMoveBitfieldGroup;   // 1001
extern const PatternGroup kRegisterArithmeticGroup;    // 0101
extern const PatternGroup kRegisterOtherGroup;         // 1101
extern const PatternGroup kLoadStorePairGroup;         // 0100, 0110
extern const PatternGroup kLoadStoreRegisterGroup;     // 1100, 1110

}  // namespace coresift::decode::a64

// The messages of the unwind-table readers. Each names the module (or symbol file) first and the
// section second, and is printed with the error prefix once per failure; a TableNames without a
// console keeps them silent.
#pragma once

#include <cstdint>

#include "analyzer/driver/console.h"
#include "analyzer/unwind/cfi_types.h"

namespace coresift::unwind {

inline void reportOutOfMemory(const TableNames& n) {
    if (n.console) n.console->error(Msg::OutOfMemory);
}
inline void reportUnsupportedEncoding(const TableNames& n, std::uint8_t encoding) {
    if (n.console) n.console->error(Msg::UnsupportedPointerEncoding, static_cast<unsigned>(encoding));
}
inline void reportSegmentCorrupted(const TableNames& n, TargetWord address) {
    if (n.console) n.console->error(Msg::SegmentAddressCorrupted, n.module, n.section, address);
}
inline void reportSegmentSize(const TableNames& n, std::uint64_t size) {
    if (n.console) n.console->error(Msg::SegmentSizeIncorrect, n.module, n.section, static_cast<int>(size));
}
inline void reportVersion(const TableNames& n, unsigned version) {
    if (n.console) n.console->error(Msg::UnsupportedVersion, n.module, n.section, version);
}
inline void reportAugmentation(const TableNames& n, char letter) {
    if (n.console) n.console->error(Msg::UnsupportedAugmentation, n.module, n.section, static_cast<int>(letter));
}
inline void reportRegisterStackUnderflow(const TableNames& n) {
    if (n.console) n.console->error(Msg::RegisterStackUnderflow, n.module, n.section);
}
inline void reportInvalidSpRule(const TableNames& n) {
    if (n.console) n.console->error(Msg::InvalidSpRule, n.module, n.section);
}
inline void reportExpressionOverflow(const TableNames& n) {
    if (n.console) n.console->error(Msg::ExpressionStackOverflow, n.module, n.section);
}
inline void reportExpressionUnderflow(const TableNames& n) {
    if (n.console) n.console->error(Msg::ExpressionStackUnderflow, n.module, n.section);
}
// "Invalid <module> of <section> <what> index: <value>", `what` one of the catalog words
// "register", "stack" and "size".
inline void reportInvalidIndex(const TableNames& n, Msg what, std::int64_t value) {
    if (n.console) n.console->error(Msg::InvalidIndex, n.module, n.section, n.console->text(what), static_cast<int>(value));
}
inline void reportUnrecognizedOpcode(const TableNames& n, unsigned opcode) {
    if (n.console) n.console->error(Msg::UnrecognizedOpCode, n.module, n.section, opcode);
}

}  // namespace coresift::unwind

#include "tests/dispatcher/container_builder.h"

#include <cstring>

namespace testsupport {
namespace {

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

std::string scramble(const std::string& data) {
    std::string out = data;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(out[i] ^ static_cast<char>(0x3C5A7E91u >> (8 * (i % 4))));
    return out;
}

std::string ContainerBuilder::bytes() const {
    std::size_t start = version_ == 16 ? 40 : 48;
    std::size_t end = start + 64 * entries_.size();
    std::string out(end, '\0');
    put32(out, 0, magic_);
    put32(out, 4, version_);
    put32(out, 8, tableEnd_ >= 0 ? static_cast<std::uint32_t>(tableEnd_) : static_cast<std::uint32_t>(end));
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const BuilderEntry& entry = entries_[i];
        std::size_t at = start + 64 * i;
        std::string data = entry.scrambled ? scramble(entry.data) : entry.data;
        std::size_t offset = out.size();
        out += data;
        put32(out, at + 4, entry.present);
        put32(out, at + 8, entry.offset >= 0 ? static_cast<std::uint32_t>(entry.offset) : static_cast<std::uint32_t>(offset));
        put32(out, at + 12, entry.length >= 0 ? static_cast<std::uint32_t>(entry.length) : static_cast<std::uint32_t>(data.size()));
        put32(out, at + 20, entry.scrambled ? 1 : 0);
        std::memcpy(&out[at + 32], entry.name.data(), entry.name.size() < 32 ? entry.name.size() : 32);
    }
    return out;
}

}  // namespace testsupport

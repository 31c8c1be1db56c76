// Little-endian stores into a growing byte vector, for the core writer and the note encoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corekit {

// Stores the low `size` bytes of `value` at `offset`; the vector must already hold them.
template <class T>
void putLe(std::vector<std::uint8_t>& out, std::size_t offset, T value, unsigned size) {
    auto v = static_cast<std::uint64_t>(value);
    for (unsigned i = 0; i < size; ++i) out[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <class T>
void appendLe(std::vector<std::uint8_t>& out, T value, unsigned size) {
    out.resize(out.size() + size);
    putLe(out, out.size() - size, value, size);
}

inline void padTo(std::vector<std::uint8_t>& out, std::size_t alignment) {
    while (out.size() % alignment) out.push_back(0);
}

}  // namespace corekit

// A fixed-size text buffer owned by the caller: the instruction printer writes into it without
// allocating. Text beyond the capacity is dropped (an instruction's text is far shorter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace coresift::decode {

class TextSink {
public:
    static constexpr std::size_t kCapacity = 240;

    void clear() { length_ = 0; }
    std::string_view view() const { return {text_, length_}; }

    void put(char ch) {
        if (length_ < kCapacity) text_[length_++] = ch;
    }
    void put(std::string_view s) {
        for (char ch : s) put(ch);
    }
    // Upper-case hexadecimal without prefix ("%X", "%llX").
    void hex(std::uint64_t v) {
        char digits[16];
        int n = 0;
        do {
            digits[n++] = "0123456789ABCDEF"[v & 15];
            v >>= 4;
        } while (v);
        while (n) put(digits[--n]);
    }
    void decimal(std::int64_t v) {
        std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        if (v < 0) put('-');
        char digits[20];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
        while (n) put(digits[--n]);
    }

private:
    char text_[kCapacity];
    std::size_t length_ = 0;
};

}  // namespace coresift::decode

// Bounds-checked reading of little-endian bytes from a file or dump: a span plus a cursor.
// Every parser of untrusted bytes reads through this; a read past the end never touches memory
// outside the span, it fails (the reader remembers the failure and returns zeros from then on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>

namespace common {

// A read-only span of bytes.
class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(size ? data : nullptr), size_(data ? size : 0) {}

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // The bytes [offset, offset + length), or nothing when that range is not inside the view.
    std::optional<ByteView> sub(std::uint64_t offset, std::uint64_t length) const {
        if (offset > size_ || length > size_ - offset) return std::nullopt;
        return ByteView(data_ + offset, static_cast<std::size_t>(length));
    }
    // The bytes from `offset` to the end (empty when offset is past the end).
    ByteView from(std::uint64_t offset) const {
        return offset >= size_ ? ByteView() : ByteView(data_ + offset, size_ - static_cast<std::size_t>(offset));
    }

    // A little-endian value at `offset`, or nothing when it does not fit.
    template <class T>
    std::optional<T> read(std::uint64_t offset) const {
        static_assert(std::is_trivially_copyable_v<T>);
        if (offset > size_ || sizeof(T) > size_ - offset) return std::nullopt;
        T value;
        std::memcpy(&value, data_ + offset, sizeof(T));
        return value;  // hosts are little-endian (x86-64), as the targets are
    }

    // The NUL-terminated text at `offset`; nothing when no NUL comes before the end.
    std::optional<std::string_view> cstring(std::uint64_t offset) const {
        if (offset >= size_) return std::nullopt;
        const void* nul = std::memchr(data_ + offset, 0, size_ - static_cast<std::size_t>(offset));
        if (!nul) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(data_ + offset),
                                static_cast<const std::uint8_t*>(nul) - (data_ + offset));
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Sequential reading with a cursor. After the first failed read `ok()` is false and every later
// read returns 0 / empty, so a parser can read a whole record and check once.
class ByteReader {
public:
    explicit ByteReader(ByteView view, std::size_t offset = 0) : view_(view), pos_(offset) {
        if (offset > view.size()) fail();
    }

    bool ok() const { return ok_; }
    std::size_t offset() const { return pos_; }
    std::size_t remaining() const { return ok_ ? view_.size() - pos_ : 0; }
    bool atEnd() const { return remaining() == 0; }
    ByteView view() const { return view_; }

    void seek(std::size_t offset) {
        if (offset > view_.size()) fail();
        else pos_ = offset;
    }
    void skip(std::uint64_t n) {
        if (!ok_ || n > remaining()) fail();
        else pos_ += static_cast<std::size_t>(n);
    }

    template <class T>
    T read() {
        if (!ok_) return T{};
        auto v = view_.read<T>(pos_);
        if (!v) { fail(); return T{}; }
        pos_ += sizeof(T);
        return *v;
    }
    std::uint8_t u8() { return read<std::uint8_t>(); }
    std::uint16_t u16() { return read<std::uint16_t>(); }
    std::uint32_t u32() { return read<std::uint32_t>(); }
    std::uint64_t u64() { return read<std::uint64_t>(); }
    std::int8_t s8() { return read<std::int8_t>(); }
    std::int16_t s16() { return read<std::int16_t>(); }
    std::int32_t s32() { return read<std::int32_t>(); }
    std::int64_t s64() { return read<std::int64_t>(); }

    // LEB128 numbers. More than 10 bytes, or bits beyond 64, fail the reader.
    std::uint64_t uleb128() {
        std::uint64_t value = 0;
        for (unsigned shift = 0; ok_; shift += 7) {
            if (shift >= 70) { fail(); break; }
            std::uint8_t b = u8();
            if (!ok_) break;
            std::uint64_t low = b & 0x7F;
            if (shift < 64) value |= low << shift;
            if (shift == 63 && low > 1) { fail(); break; }
            if (!(b & 0x80)) return value;
        }
        return 0;
    }
    std::int64_t sleb128() {
        std::uint64_t value = 0;
        for (unsigned shift = 0; ok_; shift += 7) {
            if (shift >= 70) { fail(); break; }
            std::uint8_t b = u8();
            if (!ok_) break;
            if (shift < 64) value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) {
                if (shift + 7 < 64 && (b & 0x40)) value |= ~std::uint64_t{0} << (shift + 7);
                return static_cast<std::int64_t>(value);
            }
        }
        return 0;
    }

    // `n` bytes as a view, advancing past them.
    ByteView bytes(std::uint64_t n) {
        if (!ok_ || n > remaining()) { fail(); return {}; }
        ByteView v(view_.data() + pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return v;
    }
    // A little-endian number of `n` bytes (DWARF's sized forms and operands); of a wider field
    // only the low 8 bytes count. 0 when the bytes are not there.
    std::uint64_t readSized(std::uint64_t n) {
        ByteView field = bytes(n);
        std::uint64_t value = 0;
        for (std::size_t i = field.size() > 8 ? 8 : field.size(); i-- > 0;) value = (value << 8) | field.data()[i];
        return value;
    }
    // NUL-terminated text, advancing past the NUL.
    std::string_view cstring() {
        if (!ok_) return {};
        auto s = view_.cstring(pos_);
        if (!s) { fail(); return {}; }
        pos_ += s->size() + 1;
        return *s;
    }

    void fail() { ok_ = false; }

private:
    ByteView view_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace common

// printf-style formatting with typed arguments.
//
// Catalog texts are printf formats chosen at run time (language, target width), so the compiler
// cannot check them against the arguments. This formatter walks the format itself and takes each
// argument with its real type: a mismatch (a 64-bit value given to a 32-bit conversion, a number
// given to "%s", too few arguments) is never undefined behaviour; it is printed as the conversion
// asks and counted, so tests can insist on exact agreement.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace common {

struct FormatArg {
    enum class Kind : std::uint8_t { Signed, Unsigned, Text, Real };
    Kind kind;
    std::uint8_t bits;  // 8/16/32/64 for integers
    std::uint64_t u = 0;    // integers, two's complement for signed values
    const char* s = nullptr;
    double d = 0;

    template <class T>
    static FormatArg from(const T& v) {
        FormatArg a{};
        if constexpr (std::is_same_v<T, bool>) {
            a.kind = Kind::Signed; a.bits = 32; a.u = v ? 1 : 0;
        } else if constexpr (std::is_enum_v<T>) {
            a = from(static_cast<std::underlying_type_t<T>>(v));
        } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
            a.kind = Kind::Signed; a.bits = sizeof(T) * 8 < 32 ? 32 : sizeof(T) * 8;
            a.u = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
        } else if constexpr (std::is_integral_v<T>) {
            a.kind = Kind::Unsigned; a.bits = sizeof(T) * 8 < 32 ? 32 : sizeof(T) * 8;
            a.u = v;
        } else if constexpr (std::is_floating_point_v<T>) {
            a.kind = Kind::Real; a.bits = 64; a.d = v;
        } else if constexpr (std::is_convertible_v<const T&, const char*>) {
            a.kind = Kind::Text; a.bits = 0; a.s = v;
        } else if constexpr (std::is_same_v<T, std::string>) {
            a.kind = Kind::Text; a.bits = 0; a.s = v.c_str();
        } else {
            static_assert(sizeof(T) == 0, "unsupported format argument type");
        }
        return a;
    }
};

struct FormatResult {
    std::string text;
    unsigned mismatches = 0;  // conversions whose argument had the wrong kind or width
};

// Formats `format` with `count` arguments; appends to `out.text`.
void formatInto(FormatResult& out, const char* format, const FormatArg* args, std::size_t count);

template <class... A>
FormatResult format(const char* fmt, const A&... args) {
    FormatResult r;
    if constexpr (sizeof...(A) == 0) {
        formatInto(r, fmt, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg::from(args)...};
        formatInto(r, fmt, list, sizeof...(A));
    }
    return r;
}

// One conversion of a format: what argument it takes. Used by the catalog checks.
struct Conversion {
    char letter;      // d i u x X o c s p f g e ...
    std::uint8_t bits;  // integer width the length modifier asks for (32 or 64); 0 for %s/%c
    bool starWidth;   // "%*c": takes an extra int first
    bool starPrecision;
};

// The conversions of a format in order ("%%" excluded). Returns false on a malformed format.
bool parseConversions(std::string_view format, std::vector<Conversion>& out);

}  // namespace common

// C++ names as the report shows them.
//
// Names are demangled by the C++ runtime's Itanium demangler. The form shown is the demangled
// name without its top-level parameter list and the qualifiers after it, and without the return
// type a template function's name carries ("crashns::Widget::poke", "ldexp<unsigned long>"), as a
// libiberty-style demangler prints names without parameters: every place that prints a function
// name adds its own parentheses. Special names keep their inner signature ("non-virtual thunk to
// Foo::bar()"), names local to a function keep that function's ("foo()::A::bar"). Clone suffixes
// (".cold", ".isra.0", ".0") are dropped. Android's dynamic linker prefixes its own symbols with
// "__dl_": such a name shows as "__dl_" followed by the rest demangled. The text is cut at 512
// characters.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace coresift {

inline constexpr std::size_t kMaxDemangledLength = 512;

struct Demangled {
    std::string name;         // the shown form
    int parameterCount = 0;   // types in the top-level parameter list plus one ("v" counts one);
                              // 0 for names that are not functions
};

// Nothing when `name` does not begin with "_Z" (or "__dl__Z") or cannot be demangled.
std::optional<Demangled> demangle(std::string_view name);

// The shown form of a symbol name: demangled when it can be, else the name itself.
std::string displayName(std::string_view name);

// The full demangled text (with parameters), for tests and tools; nothing on failure.
std::optional<std::string> demangleFull(std::string_view name);

// Splits a full demangled text into the shown form and the parameter count (exposed for tests).
Demangled shortenDemangled(std::string_view full, bool specialName);

}  // namespace coresift

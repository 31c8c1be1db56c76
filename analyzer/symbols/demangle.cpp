#include "analyzer/symbols/demangle.h"

#include <cxxabi.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace coresift {
namespace {

constexpr std::string_view kLinkerPrefix = "__dl_";

// Operator spellings after the word "operator", longest first.
constexpr std::array<std::string_view, 40> kOperators = {
    "<<=", ">>=", "->*", "<=>", "()", "[]", "<<", ">>", "<=", ">=", "->", "==", "!=", "&&",
    "||",  "++",  "--",  "+=",  "-=", "*=", "/=", "%=", "&=", "|=", "^=", "+",  "-",  "*",
    "/",   "%",   "&",   "|",   "^",  "~",  "!",  "=",  "<",  ">",  ",",  "\"\""};

bool isIdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Walks a demangled text at nesting depth 0 (outside (), [], {} and <>), stepping over operator
// names whole so that "operator<" or "operator()" do not count as brackets.
class TopLevelScanner {
public:
    explicit TopLevelScanner(std::string_view text) : text_(text) {}

    // Calls `at` (position, char) for every character at depth 0 (brackets opening or closing at
    // depth 0 included). Returns false when the text
    // names a conversion operator (its type follows the word "operator").
    template <class Visit>
    bool scan(Visit&& at) {
        int round = 0, angle = 0;
        for (std::size_t i = 0; i < text_.size();) {
            if (startsOperator(i)) {
                std::size_t after = skipOperator(i);
                if (after == std::string_view::npos) return false;
                if (round == 0 && angle == 0)  // its characters, not the space in "operator< <T>"
                    for (std::size_t k = i; k < after; ++k)
                        if (text_[k] != ' ') at(k, text_[k]);
                i = after;
                continue;
            }
            // Brackets at depth 0 are reported themselves; what they enclose is not.
            char c = text_[i];
            bool before = round == 0 && angle == 0;
            if (c == '(' || c == '[' || c == '{') ++round;
            else if ((c == ')' || c == ']' || c == '}') && round > 0) --round;
            else if (c == '<' && round == 0) ++angle;
            else if (c == '>' && round == 0 && angle > 0) --angle;
            if (before || (round == 0 && angle == 0)) at(i, c);
            ++i;
        }
        return true;
    }

private:
    bool startsOperator(std::size_t i) const {
        if (text_.compare(i, 8, "operator") != 0) return false;
        if (i > 0 && isIdentifierChar(text_[i - 1])) return false;
        return i + 8 < text_.size() && !isIdentifierChar(text_[i + 8]);
    }
    // Position after the operator name; npos for a conversion operator.
    std::size_t skipOperator(std::size_t i) const {
        std::size_t j = i + 8;
        if (text_[j] == ' ') {
            for (std::string_view word : {"new", "delete"}) {
                if (text_.compare(j + 1, word.size(), word) == 0 &&
                    (j + 1 + word.size() == text_.size() || !isIdentifierChar(text_[j + 1 + word.size()]))) {
                    std::size_t end = j + 1 + word.size();
                    if (text_.compare(end, 2, "[]") == 0) end += 2;
                    return end;
                }
            }
            return std::string_view::npos;
        }
        for (std::string_view op : kOperators) {
            if (text_.compare(j, op.size(), op) != 0) continue;
            std::size_t end = j + op.size();
            if (op == "\"\"") {  // literal operator: operator"" _suffix
                if (end < text_.size() && text_[end] == ' ') ++end;
                while (end < text_.size() && isIdentifierChar(text_[end])) ++end;
            } else if (end + 1 < text_.size() && text_[end] == ' ' && text_[end + 1] == '<') {
                ++end;  // "operator< <int>": the space before template arguments
            }
            return end;
        }
        return std::string_view::npos;
    }

    std::string_view text_;
};

std::string_view withoutClones(std::string_view text) {
    while (text.ends_with(']')) {
        std::size_t at = text.rfind(" [clone ");
        if (at == std::string_view::npos) break;
        text = text.substr(0, at);
    }
    return text;
}

std::string_view withoutTrailingQualifiers(std::string_view text) {
    static constexpr std::string_view kQualifiers[] = {" const", " volatile", " restrict", " &&", " &",
                                                       " noexcept", " transaction_safe"};
    for (bool again = true; again;) {
        again = false;
        for (std::string_view q : kQualifiers) {
            if (text.ends_with(q)) {
                text.remove_suffix(q.size());
                again = true;
            }
        }
    }
    return text;
}

// Where the name starts after a template function's return type; 0 when there is none.
std::size_t nameStart(std::string_view name) {
    std::size_t start = 0;
    char last = 0;
    bool conversion = !TopLevelScanner(name).scan([&](std::size_t i, char c) {
        last = c;
        // A space at depth 0 ends the return type, except inside "Foo::bar() const::" scopes.
        if (c == ' ' && i + 1 < name.size() && name.compare(i + 1, 7, "const::") != 0 &&
            name.compare(i + 1, 10, "volatile::") != 0)
            start = i + 1;
    });
    // Only template functions print a return type; their name ends with template arguments.
    if (conversion || !name.ends_with('>') || last != '>') return 0;
    return start;
}

int countParameters(std::string_view parameters) {
    if (parameters.empty()) return 1;
    int commas = 0;
    TopLevelScanner(parameters).scan([&commas](std::size_t, char c) {
        if (c == ',') ++commas;
    });
    return commas + 1;
}

std::string cut(std::string text) {
    if (text.size() > kMaxDemangledLength) text.resize(kMaxDemangledLength);
    return text;
}

}  // namespace

std::optional<std::string> demangleFull(std::string_view name) {
    if (!name.starts_with("_Z")) return std::nullopt;
    std::string mangled(name);
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status),
                                                     &std::free);
    if (status != 0 || !text) return std::nullopt;
    return std::string(text.get());
}

// The position of the '(' that opens the group ending at the last character; npos if none.
std::size_t openingOfLastGroup(std::string_view text) {
    int depth = 0;
    for (std::size_t i = text.size(); i-- > 0;) {
        if (text[i] == ')') ++depth;
        else if (text[i] == '(' && --depth == 0) return i;
    }
    return std::string_view::npos;
}

Demangled shortenDemangled(std::string_view full, bool specialName) {
    std::string_view text = withoutClones(full);
    if (specialName) return {std::string(text), 0};
    std::string_view body = withoutTrailingQualifiers(text);
    if (!body.ends_with(')')) return {std::string(text), 0};
    std::size_t open = openingOfLastGroup(body);
    if (open == std::string_view::npos || open == 0) return {std::string(text), 0};
    std::string_view name = body.substr(0, open);
    std::string_view parameters = body.substr(open + 1, body.size() - open - 2);
    // A function returning a pointer to a function prints as "R (*name(params))(fparams)": the
    // name and its parameters sit inside the group before the last one.
    if (name.ends_with(')')) {
        std::size_t inner = openingOfLastGroup(name);
        if (inner != std::string_view::npos) {
            std::string_view declarator = name.substr(inner + 1, name.size() - inner - 2);
            std::size_t skip = declarator.find_first_not_of("*& ");
            if (skip != 0 && skip != std::string_view::npos)
                return shortenDemangled(withoutTrailingQualifiers(declarator.substr(skip)), false);
        }
    }
    Demangled out;
    out.parameterCount = countParameters(parameters) + 1;
    out.name = std::string(name.substr(nameStart(name)));
    return out;
}

std::optional<Demangled> demangle(std::string_view name) {
    if (name.starts_with(kLinkerPrefix) && name.substr(kLinkerPrefix.size()).starts_with("_Z")) {
        auto rest = demangle(name.substr(kLinkerPrefix.size()));
        if (!rest) return std::nullopt;
        rest->name = cut(std::string(kLinkerPrefix) + rest->name);
        return rest;
    }
    if (!name.starts_with("_Z")) return std::nullopt;
    auto full = demangleFull(name);
    if (!full) {
        // A compiler's suffix after the mangled name (".0", ".cold") the runtime may refuse.
        std::size_t dot = name.find('.');
        if (dot == std::string_view::npos || !(full = demangleFull(name.substr(0, dot)))) return std::nullopt;
    }
    // Special names (_ZT..., _ZG...: tables, thunks, guard variables) print their inner name whole.
    bool special = name.size() > 2 && (name[2] == 'T' || name[2] == 'G');
    Demangled out = shortenDemangled(*full, special);
    out.name = cut(std::move(out.name));
    return out;
}

std::string displayName(std::string_view name) {
    if (auto demangled = demangle(name)) return demangled->name;
    return std::string(name);
}

}  // namespace coresift

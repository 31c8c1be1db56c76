// Types of the debugging information rendered as C/C++ declarations, for the console.
//
// A declaration is built around a declarator: "*%s" for pointers ("void *%s" without a target
// type), "&" and "&&" for references, "[%d]" for array dimensions, "(" ... ")" for function types
// ("void (" without a return type), "const %s", "volatile %s", "restrict %s". Aggregates are named
// "struct %s", "class %s", "union %s", "enum %s".
//
// `renderType` of a structure, class, union or enumeration also prints its body: " {\n", one line
// per member ending "; /* 0x%03X */\n" with the member's offset, enumerators as " = 0x%X,\n",
// member functions with their access ("public ", "protected ", "private "), "explicit ",
// "virtual " or "pure virtual ", "inline " and " %s(" with the parameters separated by ", " and
// closed by ")", other declarations ending ";\n", and "}" at the end.
#pragma once

#include <string>

#include "analyzer/symbols/dwarf_info.h"

namespace coresift {

// The declaration of `type` around `declarator` (which may be empty): "char *name[4]".
std::string declareType(const DwarfInfo& dwarf, const Entry& type, const std::string& declarator);

// The type itself, with its body for aggregates and enumerations.
std::string renderType(const DwarfInfo& dwarf, const Entry& type);

}  // namespace coresift

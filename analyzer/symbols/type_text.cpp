#include "analyzer/symbols/type_text.h"

#include "analyzer/symbols/dwarf_constants.h"
#include "common/text_format.h"

namespace coresift {
namespace {

// Types nest no deeper than this in a declaration (a damaged file may loop).
constexpr int kMaxDepth = 32;
// Members shown in one body.
constexpr int kMaxMembers = 4096;
// Declarations built for one text: types that refer to each other without end (a damaged file)
// would otherwise multiply the work at every level.
constexpr int kMaxDeclarations = 20000;

class Declarations {
public:
    explicit Declarations(const DwarfInfo& dwarf) : dwarf_(dwarf) {}

    std::string declare(const Entry& type, const std::string& inner, int depth) {
        auto around = [&inner](std::string text) { return inner.empty() ? text : text + " " + inner; };
        if (!type) return around("void");
        if (depth >= kMaxDepth || ++declarations_ > kMaxDeclarations) return around("...");
        Entry target = dwarf_.typeOf(type);
        switch (type.tag()) {
        case dw::kTagPointerType:
            if (!target) return "void *" + inner;
            return declare(target, wrap(target, "*" + inner), depth + 1);
        case dw::kTagReferenceType:
            return declare(target, wrap(target, "&" + inner), depth + 1);
        case dw::kTagRvalueReferenceType:
            return declare(target, wrap(target, "&&" + inner), depth + 1);
        case dw::kTagPtrToMemberType: {
            Entry owner = dwarf_.referenced(type, 0x1d);  // DW_AT_containing_type
            return declare(target, wrap(target, typeName(owner) + "::*" + inner), depth + 1);
        }
        case dw::kTagConstType:
        case dw::kTagVolatileType:
        case dw::kTagRestrictType:
        case dw::kTagAtomicType: {
            const char* word = type.tag() == dw::kTagConstType      ? "const"
                               : type.tag() == dw::kTagVolatileType ? "volatile"
                               : type.tag() == dw::kTagRestrictType ? "restrict"
                                                                    : "_Atomic";
            if (!target) return around(std::string(word) + " void");
            // A qualified pointer: the qualifier follows the '*'.
            if (isIndirection(target)) return declare(target, std::string(word) + (inner.empty() ? "" : " " + inner), depth + 1);
            return std::string(word) + " " + declare(target, inner, depth + 1);
        }
        case dw::kTagArrayType: {
            std::string dimensions;
            int count = 0;
            for (Entry sub = dwarf_.firstChild(type); sub && count < kMaxMembers; sub = dwarf_.nextSibling(sub), ++count) {
                if (sub.tag() != dw::kTagSubrangeType) continue;
                if (auto n = dwarf_.constant(sub, dw::kAtCount))
                    dimensions += common::format("[%d]", static_cast<int>(*n)).text;
                else if (auto upper = dwarf_.signedConstant(sub, dw::kAtUpperBound))
                    dimensions += common::format("[%d]", static_cast<int>(*upper + 1)).text;
                else
                    dimensions += "[]";
            }
            return declare(target, inner + dimensions, depth + 1);
        }
        case dw::kTagSubroutineType:
            return declare(target, inner + "(" + parameters(type, depth) + ")", depth + 1);
        default:
            return around(typeName(type));
        }
    }

    std::string parameters(const Entry& function, int depth) {
        std::string text;
        int count = 0;
        for (Entry p = dwarf_.firstChild(function); p && count < kMaxMembers; p = dwarf_.nextSibling(p), ++count) {
            if (p.tag() == dw::kTagFormalParameter) {
                if (dwarf_.flag(p, dw::kAtArtificial)) continue;  // "this"
                if (!text.empty()) text += ", ";
                text += declare(dwarf_.typeOf(p), "", depth + 1);
            } else if (p.tag() == dw::kTagUnspecifiedParameters) {
                text += text.empty() ? "..." : ", ...";
            }
        }
        return text;
    }

    std::string typeName(const Entry& type) {
        std::string_view name = dwarf_.name(type);
        const char* keyword = nullptr;
        switch (type.tag()) {
        case dw::kTagStructureType: keyword = "struct"; break;
        case dw::kTagClassType: keyword = "class"; break;
        case dw::kTagUnionType: keyword = "union"; break;
        case dw::kTagEnumerationType: keyword = "enum"; break;
        default: break;
        }
        if (!keyword) return name.empty() ? std::string("?") : std::string(name);
        return name.empty() ? std::string(keyword) : std::string(keyword) + " " + std::string(name);
    }

    std::string body(const Entry& type) {
        std::string text = " {\n";
        int count = 0;
        for (Entry m = dwarf_.firstChild(type); m && count < kMaxMembers; m = dwarf_.nextSibling(m), ++count) {
            std::string name(dwarf_.name(m));
            switch (m.tag()) {
            case dw::kTagMember:
                if (dwarf_.flag(m, dw::kAtDeclaration) && !dwarf_.attribute(m, dw::kAtDataMemberLocation)) {
                    text += "    static " + declare(dwarf_.typeOf(m), name, 1) + ";\n";  // a static member (DWARF 4)
                    break;
                }
                [[fallthrough]];
            case dw::kTagInheritance: {
                std::string declaration = m.tag() == dw::kTagInheritance ? typeName(dwarf_.typeOf(m))
                                                                          : declare(dwarf_.typeOf(m), name, 1);
                std::uint64_t offset = memberOffset(m);
                text += "    " + declaration + common::format("; /* 0x%03X */\n", static_cast<unsigned>(offset)).text;
                break;
            }
            case dw::kTagEnumerator: {
                auto value = dwarf_.signedConstant(m, dw::kAtConstValue).value_or(0);
                text += "    " + name + common::format(" = 0x%X,\n", static_cast<unsigned>(value)).text;
                break;
            }
            case dw::kTagSubprogram:
                text += "    " + method(m, name);
                break;
            case dw::kTagVariable:  // static members
                text += "    static " + declare(dwarf_.typeOf(m), name, 1) + ";\n";
                break;
            default:
                break;
            }
        }
        return text + "}";
    }

private:
    bool isIndirection(const Entry& type) const {
        return type.tag() == dw::kTagPointerType || type.tag() == dw::kTagReferenceType ||
               type.tag() == dw::kTagRvalueReferenceType;
    }
    // Pointers to arrays and functions need parentheses: "(*name)[4]", "(*name)(int)".
    std::string wrap(const Entry& target, const std::string& inner) const {
        if (target.tag() == dw::kTagArrayType || target.tag() == dw::kTagSubroutineType) return "(" + inner + ")";
        return inner;
    }
    std::uint64_t memberOffset(const Entry& member) const {
        auto value = dwarf_.attribute(member, dw::kAtDataMemberLocation);
        if (!value) return 0;
        if (value->form == dw::kFormExprloc || value->form == dw::kFormBlock1 || value->form == dw::kFormBlock) {
            common::ByteReader in(value->bytes);
            return in.u8() == dw::kOpPlusUconst ? in.uleb128() : 0;
        }
        return dwarf_.constantOf(*value).value_or(0);
    }
    std::string method(const Entry& function, const std::string& name) {
        std::string text;
        switch (dwarf_.constant(function, dw::kAtAccessibility).value_or(0)) {
        case dw::kAccessPublic: text += "public "; break;
        case dw::kAccessProtected: text += "protected "; break;
        case dw::kAccessPrivate: text += "private "; break;
        default: break;
        }
        if (dwarf_.flag(function, dw::kAtExplicit)) text += "explicit ";
        auto virtuality = dwarf_.constant(function, dw::kAtVirtuality).value_or(0);
        if (virtuality == dw::kVirtualityVirtual) text += "virtual ";
        else if (virtuality == dw::kVirtualityPureVirtual) text += "pure virtual ";
        auto inlined = dwarf_.constant(function, dw::kAtInline).value_or(0);
        if (inlined == dw::kInlDeclaredInlined || inlined == dw::kInlDeclaredNotInlined) text += "inline ";
        text += declare(dwarf_.typeOf(function), "", 1) + " " + name + "(" + parameters(function, 1) + ");\n";
        return text;
    }

    const DwarfInfo& dwarf_;
    int declarations_ = 0;
};

}  // namespace

std::string declareType(const DwarfInfo& dwarf, const Entry& type, const std::string& declarator) {
    return Declarations(dwarf).declare(type, declarator, 0);
}

std::string renderType(const DwarfInfo& dwarf, const Entry& type) {
    Declarations declarations(dwarf);
    switch (type.tag()) {
    case dw::kTagStructureType:
    case dw::kTagClassType:
    case dw::kTagUnionType:
    case dw::kTagEnumerationType:
        return declarations.typeName(type) + declarations.body(type);
    case dw::kTagTypedef:
        return "typedef " + declarations.declare(dwarf.typeOf(type), std::string(dwarf.name(type)), 0);
    default:
        return declarations.declare(type, "", 0);
    }
}

}  // namespace coresift

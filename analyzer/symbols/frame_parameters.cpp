#include "analyzer/symbols/frame_parameters.h"

#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_expression.h"

namespace coresift {
namespace {

constexpr int kMaxTypeHops = 16;
constexpr unsigned kWordSize = sizeof(TargetWord);
constexpr unsigned kRegisterWords = kIs64 ? 8 : 4;

struct TypeClass {
    ValueKind kind = ValueKind::Unknown;
    unsigned byteSize = kWordSize;
};

std::uint64_t maskOf(unsigned size) { return size >= 8 ? UINT64_MAX : (std::uint64_t{1} << (size * 8)) - 1; }

// An attribute of the entry itself, else of its abstract origin (concrete instances of inlined
// or out-of-line functions keep names and types there).
Entry withAttribute(const DwarfInfo& dwarf, Entry entry, std::uint32_t name) {
    for (int hop = 0; entry && hop < 4; ++hop) {
        if (dwarf.attribute(entry, name)) return entry;
        entry = dwarf.referenced(entry, dw::kAtAbstractOrigin);
    }
    return {};
}

TypeClass classify(const DwarfInfo& dwarf, Entry type, unsigned addressSize) {
    for (int hop = 0; type && hop < kMaxTypeHops; ++hop) {
        unsigned size = static_cast<unsigned>(dwarf.constant(type, dw::kAtByteSize).value_or(0));
        switch (type.tag()) {
        case dw::kTagTypedef: case dw::kTagConstType: case dw::kTagVolatileType: case dw::kTagRestrictType:
        case dw::kTagAtomicType:
            type = dwarf.typeOf(type);
            continue;
        case dw::kTagPointerType: case dw::kTagReferenceType: case dw::kTagRvalueReferenceType:
        case dw::kTagPtrToMemberType:
            return {ValueKind::Pointer, addressSize};
        case dw::kTagEnumerationType:
            return {ValueKind::Signed, size ? size : 4};
        case dw::kTagStructureType: case dw::kTagClassType: case dw::kTagUnionType: case dw::kTagArrayType:
            return {ValueKind::Aggregate, size ? size : kWordSize};
        case dw::kTagBaseType: {
            auto encoding = dwarf.constant(type, dw::kAtEncoding).value_or(0);
            if (size == 0 || size > 8) return {ValueKind::Unknown, kWordSize};
            bool wide = size > 4 && !kIs64;
            switch (encoding) {
            case dw::kAteFloat: return {size == 4 ? ValueKind::Float : ValueKind::Double, size};
            case dw::kAteBoolean: return {ValueKind::Boolean, size};
            case dw::kAteSignedChar: case dw::kAteUnsignedChar: return {ValueKind::Character, size};
            case dw::kAteUtf: return {size == 1 ? ValueKind::Character : ValueKind::Unsigned, size};
            case dw::kAteSigned: return {wide ? ValueKind::Int64 : ValueKind::Signed, size};
            case dw::kAteUnsigned: case dw::kAteAddress: return {wide ? ValueKind::UInt64 : ValueKind::Unsigned, size};
            default: return {ValueKind::Unknown, size};
            }
        }
        default:
            return {};
        }
    }
    return {};
}

// Argument words a value of this class takes.
unsigned wordsOf(const TypeClass& c) {
    if (c.kind == ValueKind::Aggregate) {
        if (kIs64 && c.byteSize > 16) return 1;  // passed by reference
        return (c.byteSize + kWordSize - 1) / kWordSize;
    }
    return c.byteSize > kWordSize ? 2 : 1;
}

std::uint64_t readLE(common::ByteReader& in, unsigned size) {
    common::ByteView bytes = in.bytes(size);
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes.data()[i];
    return value;
}

// The expression of a location list entry covering file address `pc`.
std::optional<common::ByteView> locationListEntry(const DwarfInfo& dwarf, const Unit& unit, std::uint64_t offset,
                                                  std::uint64_t pc) {
    const unsigned size = unit.header.addressSize;
    std::uint64_t base = dwarf.bases(unit).lowPc.value_or(0);
    const std::uint64_t allOnes = maskOf(size);
    if (unit.header.version < 5) {
        common::ByteView loc = dwarf.section(DebugSection::Loc);
        if (offset >= loc.size()) return std::nullopt;
        common::ByteReader in(loc, static_cast<std::size_t>(offset));
        while (in.ok()) {
            std::uint64_t begin = readLE(in, size), end = readLE(in, size);
            if (!in.ok() || (begin == 0 && end == 0)) return std::nullopt;
            if (begin == allOnes) {
                base = end;
                continue;
            }
            common::ByteView expression = in.bytes(in.u16());
            if (in.ok() && base + begin <= pc && pc < base + end) return expression;
        }
        return std::nullopt;
    }
    common::ByteView lists = dwarf.section(DebugSection::Loclists);
    if (offset >= lists.size()) return std::nullopt;
    common::ByteReader in(lists, static_cast<std::size_t>(offset));
    std::optional<common::ByteView> fallback;
    while (in.ok()) {
        std::uint8_t kind = in.u8();
        std::uint64_t b = 0, e = 0;
        bool hasRange = true;
        switch (kind) {
        case dw::kLleEndOfList: return fallback;
        case dw::kLleBaseAddressx: base = dwarf.indexedAddress(unit, in.uleb128()).value_or(0); continue;
        case dw::kLleBaseAddress: base = readLE(in, size); continue;
        case dw::kLleStartxEndx:
            b = dwarf.indexedAddress(unit, in.uleb128()).value_or(0);
            e = dwarf.indexedAddress(unit, in.uleb128()).value_or(0);
            break;
        case dw::kLleStartxLength:
            b = dwarf.indexedAddress(unit, in.uleb128()).value_or(0);
            e = b + in.uleb128();
            break;
        case dw::kLleOffsetPair: b = base + in.uleb128(); e = base + in.uleb128(); break;
        case dw::kLleDefaultLocation: hasRange = false; break;
        case dw::kLleStartEnd: b = readLE(in, size); e = readLE(in, size); break;
        case dw::kLleStartLength: b = readLE(in, size); e = b + in.uleb128(); break;
        default: return std::nullopt;
        }
        common::ByteView expression = in.bytes(in.uleb128());
        if (!in.ok()) return std::nullopt;
        if (!hasRange) fallback = expression;
        else if (b <= pc && pc < e) return expression;
    }
    return std::nullopt;
}

// The expression describing where `parameter` lives at file address `pc`.
std::optional<common::ByteView> locationOf(const DwarfInfo& dwarf, const Entry& parameter, std::uint64_t pc) {
    auto value = dwarf.attribute(parameter, dw::kAtLocation);
    if (!value) return std::nullopt;
    const Unit& unit = *parameter.unit;
    switch (value->form) {
    case dw::kFormExprloc: case dw::kFormBlock: case dw::kFormBlock1: case dw::kFormBlock2: case dw::kFormBlock4:
        return value->bytes;
    case dw::kFormSecOffset: case dw::kFormData4: case dw::kFormData8:
        return locationListEntry(dwarf, unit, value->value, pc);
    case dw::kFormLoclistx: {
        const UnitBases& bases = dwarf.bases(unit);
        unsigned size = unit.header.offsetSize;
        if (value->value > (UINT64_MAX - bases.loclistsBase) / size) return std::nullopt;
        auto slot = dwarf.section(DebugSection::Loclists).sub(bases.loclistsBase + value->value * size, size);
        if (!slot) return std::nullopt;
        std::uint64_t relative = size == 8 ? *slot->read<std::uint64_t>(0) : *slot->read<std::uint32_t>(0);
        return locationListEntry(dwarf, unit, bases.loclistsBase + relative, pc);
    }
    default:
        dwarf.reportForm("Sec Form", value->form);
        return std::nullopt;
    }
}

}  // namespace

Entry subprogramAt(SymbolSource& source, TargetWord address) {
    SymbolFile* file = source.symbolFile();
    DwarfInfo* dwarf = file ? file->dwarf() : nullptr;
    if (!dwarf) return {};
    TargetWord fileAddress = address - source.loadBias();
    if (const FunctionMatch* match = source.functionMatch()) fileAddress = match->toFileAddress(address);
    Entry unit = dwarf->unitAt(fileAddress);
    if (!unit) return {};
    Entry scope = dwarf->scopeAt(*unit.unit, fileAddress);
    return scope.tag() == dw::kTagSubprogram ? scope : Entry{};
}

int frameParameters(SymbolSource& source, const Entry& subprogram, const FrameRegisters& registers,
                    const decode::TargetMemory& memory, const std::function<int(const FrameParameter&)>& visit) {
    SymbolFile* file = source.symbolFile();
    DwarfInfo* dwarf = file ? file->dwarf() : nullptr;
    if (!dwarf || !subprogram) return 0;
    TargetWord filePc = registers.pc - source.loadBias();
    if (const FunctionMatch* match = source.functionMatch()) filePc = match->toFileAddress(registers.pc);
    const unsigned addressSize = subprogram.unit->header.addressSize;

    ExpressionContext context;
    context.addressSize = addressSize;
    context.reg = [&registers](unsigned n) -> std::optional<std::uint64_t> {
        if (n >= registers.values.size() || !(registers.known >> n & 1)) return std::nullopt;
        return registers.values[n];
    };
    context.entryValue = [&registers](unsigned n) -> std::optional<std::uint64_t> {
        if (n >= registers.values.size() || n >= 64 || !(registers.entryValues >> n & 1)) return std::nullopt;
        return registers.values[n];
    };
    context.memory = &memory;
    context.cfa = registers.cfa;
    context.dwarf = dwarf;
    context.unit = subprogram.unit;
    context.loadBias = registers.pc - filePc;
    if (auto base = dwarf->attribute(subprogram, dw::kAtFrameBase); base && base->form == dw::kFormExprloc) {
        if (auto location = evaluateExpression(base->bytes, context)) {
            if (location->kind == Location::Kind::Register) context.frameBase = locationValue(*location, addressSize, context);
            else if (location->kind == Location::Kind::Memory || location->kind == Location::Kind::Value)
                context.frameBase = location->value;
        }
    }

    unsigned word = 0, index = 0;
    for (Entry child = dwarf->firstChild(subprogram); child; child = dwarf->nextSibling(child)) {
        if (child.tag() == dw::kTagTemplateValueParameter || child.tag() == dw::kTagTemplateTypeParameter) continue;
        if (child.tag() != dw::kTagFormalParameter) break;
        FrameParameter out;
        out.index = index++;
        Entry named = withAttribute(*dwarf, child, dw::kAtName);
        out.name = named ? dwarf->name(named) : std::string_view();
        Entry typed = withAttribute(*dwarf, child, dw::kAtType);
        TypeClass type = classify(*dwarf, typed ? dwarf->typeOf(typed) : Entry{}, addressSize);
        out.kind = type.kind;
        const unsigned words = wordsOf(type);
        const unsigned valueSize = type.byteSize > 8 ? kWordSize : type.byteSize;
        const bool floating = type.kind == ValueKind::Float || type.kind == ValueKind::Double;
        const bool inCoreRegisters = !(kIs64 && floating);
        if (!kIs64 && words == 2 && type.kind != ValueKind::Aggregate && (word & 1)) ++word;  // even register pair

        bool fromRegisters = inCoreRegisters && word + (words > 2 ? 1 : words) <= kRegisterWords;
        for (unsigned w = 0; fromRegisters && w < (words > 2 ? 1 : words); ++w)
            fromRegisters = registers.entryValues >> (word + w) & 1;
        if (fromRegisters) {
            out.value = registers.values[word];
            if (!kIs64 && words >= 2 && type.kind != ValueKind::Aggregate)
                out.value |= static_cast<std::uint64_t>(registers.values[word + 1]) << 32;
            out.known = true;
        } else if (inCoreRegisters && word >= kRegisterWords) {
            std::uint64_t stack = 0;
            TargetWord at = registers.sp + static_cast<TargetWord>((word - kRegisterWords) * kWordSize);
            if (memory.read(at, &stack, valueSize)) out.value = stack, out.known = true;
        }
        if (!out.known) {
            if (auto expression = locationOf(*dwarf, child, filePc)) {
                if (auto location = evaluateExpression(*expression, context)) {
                    auto value = locationValue(*location, valueSize, context);
                    if (value) out.value = *value, out.known = true;
                }
            }
        }
        if (out.known) out.value &= maskOf(valueSize);
        if (inCoreRegisters) word += words;
        if (int result = visit(out)) return result;
    }
    return 0;
}

}  // namespace coresift

// Headers of line-number programs: versions 2-4 (directory and file name lists) and version 5
// (entry formats with their forms).
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"
#include "analyzer/symbols/line_table.h"

namespace coresift {
namespace {

// Tables larger than this are not file tables but damage.
constexpr std::uint64_t kMaxEntries = 1u << 20;

struct EntryFormat {
    std::uint64_t content, form;
};

// One version 5 directory or file entry: its path and directory index.
bool readEntry(const DwarfInfo& dwarf, common::ByteReader& in, const std::vector<EntryFormat>& formats,
               unsigned offsetSize, LineFileEntry& out) {
    for (const EntryFormat& f : formats) {
        std::optional<std::string_view> text;
        std::uint64_t number = 0;
        switch (f.form) {
        case dw::kFormString: text = in.cstring(); break;
        case dw::kFormLineStrp: text = dwarf.section(DebugSection::LineStr).cstring(in.readSized(offsetSize)); break;
        case dw::kFormStrp: text = dwarf.section(DebugSection::Str).cstring(in.readSized(offsetSize)); break;
        case dw::kFormUdata: number = in.uleb128(); break;
        case dw::kFormData1: number = in.u8(); break;
        case dw::kFormData2: number = in.u16(); break;
        case dw::kFormData4: number = in.u32(); break;
        case dw::kFormData8: number = in.u64(); break;
        case dw::kFormData16: in.skip(16); break;
        case dw::kFormBlock: in.skip(in.uleb128()); break;
        default:
            dwarf.reportForm("Form", f.form > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(f.form));
            return false;
        }
        if (!in.ok()) return false;
        if (f.content == dw::kLnctPath) out.name = text.value_or(std::string_view());
        else if (f.content == dw::kLnctDirectoryIndex) out.directory = number;
    }
    return true;
}

bool readFormats(common::ByteReader& in, std::vector<EntryFormat>& formats) {
    std::uint8_t count = in.u8();
    for (unsigned i = 0; i < count && in.ok(); ++i) {
        std::uint64_t content = in.uleb128();
        std::uint64_t form = in.uleb128();
        formats.push_back({content, form});
    }
    return in.ok();
}

bool readVersion5Tables(const DwarfInfo& dwarf, common::ByteReader& in, LineProgramHeader& h) {
    std::vector<EntryFormat> formats;
    if (!readFormats(in, formats)) return false;
    std::uint64_t count = in.uleb128();
    if (!in.ok() || count > kMaxEntries) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        LineFileEntry entry;
        if (!readEntry(dwarf, in, formats, h.offsetSize, entry)) return false;
        h.directories.push_back(entry.name);
    }
    formats.clear();
    if (!readFormats(in, formats)) return false;
    count = in.uleb128();
    if (!in.ok() || count > kMaxEntries) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        LineFileEntry entry;
        if (!readEntry(dwarf, in, formats, h.offsetSize, entry)) return false;
        h.files.push_back(entry);
    }
    return true;
}

bool readVersion4Tables(common::ByteReader& in, LineProgramHeader& h) {
    // Index 0 of both lists is the compilation itself: directory 0 is the compilation directory,
    // and files count from 1.
    h.directories.push_back(std::string_view());
    h.files.push_back({std::string_view(), 0});
    while (in.ok() && h.directories.size() < kMaxEntries) {
        std::string_view directory = in.cstring();
        if (!in.ok() || directory.empty()) break;
        h.directories.push_back(directory);
    }
    while (in.ok() && h.files.size() < kMaxEntries) {
        std::string_view name = in.cstring();
        if (!in.ok() || name.empty()) break;
        std::uint64_t directory = in.uleb128();
        in.uleb128();  // modification time
        in.uleb128();  // length
        h.files.push_back({name, directory});
    }
    return in.ok();
}

}  // namespace

LineHeaderResult readLineHeader(const DwarfInfo& dwarf, std::uint64_t offset) {
    LineHeaderResult result;
    common::ByteView bytes = dwarf.section(DebugSection::Line);
    if (offset >= bytes.size()) return result;
    common::ByteReader in(bytes, static_cast<std::size_t>(offset));
    LineProgramHeader h;
    h.offset = offset;
    std::uint64_t length = in.u32();
    if (length == 0xFFFFFFFFu) {
        length = in.u64();
        h.offsetSize = 8;
    } else if (length >= 0xFFFFFFF0u) {
        return result;
    }
    if (!in.ok() || length > in.remaining() || length < 2) return result;
    h.end = in.offset() + length;
    result.next = h.end;
    h.version = in.u16();
    result.version = h.version;
    if (h.version < 2 || h.version > 5) return result;

    common::ByteReader unit(bytes.sub(0, h.end).value_or(common::ByteView()), in.offset());
    h.addressSize = dwarf.fileAddressSize();
    if (h.version >= 5) {
        h.addressSize = unit.u8();
        unit.u8();  // segment selector size
    }
    std::uint64_t headerLength = unit.readSized(h.offsetSize);
    if (!unit.ok() || headerLength > unit.remaining()) return result;
    h.programStart = unit.offset() + headerLength;
    h.minInstructionLength = unit.u8();
    if (h.version >= 4) unit.u8();  // maximum operations per instruction (VLIW only)
    h.defaultIsStmt = unit.u8();
    h.lineBase = unit.s8();
    h.lineRange = unit.u8();
    h.opcodeBase = unit.u8();
    if (!unit.ok() || h.lineRange == 0 || h.opcodeBase == 0) return result;
    if (h.addressSize != 4 && h.addressSize != 8) return result;
    for (unsigned i = 1; i < h.opcodeBase; ++i) h.standardOpcodeLengths.push_back(unit.u8());
    // The tables end where the program starts, whatever the header length says about them.
    common::ByteReader tables(bytes.sub(0, h.programStart).value_or(common::ByteView()), unit.offset());
    bool ok = h.version >= 5 ? readVersion5Tables(dwarf, tables, h) : readVersion4Tables(tables, h);
    if (!unit.ok() || !ok) return result;
    result.header = std::move(h);
    return result;
}

std::string SourceLine::path() const {
    auto isAbsolute = [](std::string_view p) { return !p.empty() && (p[0] == '/' || (p.size() > 1 && p[1] == ':')); };
    auto join = [](std::string a, std::string_view b) {
        if (a.empty()) return std::string(b);
        if (b.empty()) return a;
        if (a.back() != '/') a += '/';
        return a + std::string(b);
    };
    if (isAbsolute(file)) return std::string(file);
    std::string dir(directory);
    if (!isAbsolute(directory) && !compDir.empty()) dir = join(std::string(compDir), directory);
    return join(dir, file);
}

}  // namespace coresift

// Running line-number programs: the sequence index, the rows of one sequence, the look-up.
#include "analyzer/symbols/line_table.h"

#include <algorithm>
#include <new>

#include "analyzer/driver/console.h"
#include "analyzer/symbols/dwarf_constants.h"
#include "analyzer/symbols/dwarf_info.h"

namespace coresift {
namespace {

// Rows kept for recently used sequences; past this many the cache starts over.
constexpr std::size_t kMaxCachedRows = std::size_t{1} << 21;

std::uint64_t addressMask(unsigned size) { return size >= 8 ? UINT64_MAX : (std::uint64_t{1} << (size * 8)) - 1; }

// The state machine of one program. `onRow` sees each row (address, line, file, end of sequence);
// it returns false to stop. `onDefineFile` sees files the program defines. Returns false when the
// program stops at an opcode it cannot run (after printing the message).
struct ProgramRun {
    const LineProgramHeader& header;
    Console& console;

    enum class Stop { EndOfUnit, Visitor, UnknownOpcode, Damaged };

    template <class RowVisitor, class FileVisitor>
    Stop run(common::ByteView bytes, std::uint64_t from, RowVisitor&& onRow, FileVisitor&& onDefineFile,
             std::uint64_t* position = nullptr) const {
        const std::uint64_t mask = addressMask(header.addressSize);
        const std::uint64_t minLength = header.minInstructionLength;
        common::ByteReader in(bytes.sub(0, header.end).value_or(common::ByteView()));
        if (from >= header.end) return Stop::EndOfUnit;
        in.seek(static_cast<std::size_t>(from));
        std::uint64_t address = 0;
        std::uint32_t file = 1, line = 1;
        auto reset = [&] { address = 0, file = 1, line = 1; };
        auto emit = [&](bool endOfSequence) {
            if (position) *position = in.offset();
            return onRow(address, line, file, endOfSequence);
        };
        while (!in.atEnd()) {
            std::uint8_t opcode = in.u8();
            if (opcode >= header.opcodeBase) {
                unsigned adjusted = opcode - header.opcodeBase;
                address = (address + (adjusted / header.lineRange) * minLength) & mask;
                line += static_cast<std::uint32_t>(header.lineBase + static_cast<int>(adjusted % header.lineRange));
                if (!emit(false)) return Stop::Visitor;
                continue;
            }
            switch (opcode) {
            case 0: {
                std::uint64_t length = in.uleb128();
                if (!in.ok()) return Stop::Damaged;
                if (length == 0) break;
                if (length > in.remaining()) return Stop::Damaged;
                const std::uint64_t next = in.offset() + length;
                std::uint8_t sub = in.u8();
                switch (sub) {
                case dw::kLneEndSequence:
                    in.seek(static_cast<std::size_t>(next));
                    if (!emit(true)) return Stop::Visitor;
                    reset();
                    break;
                case dw::kLneSetAddress:
                    address = in.readSized(length - 1) & mask;
                    break;
                case dw::kLneDefineFile: {
                    std::string_view name = in.cstring();
                    std::uint64_t directory = in.uleb128();
                    if (in.ok()) onDefineFile(LineFileEntry{name, directory});
                    break;
                }
                case dw::kLneSetDiscriminator:
                    break;
                default:
                    console.error(Msg::UnrecognizedOpCode, "", ".debug_line", static_cast<unsigned>(sub));
                    return Stop::UnknownOpcode;
                }
                in.seek(static_cast<std::size_t>(next));
                break;
            }
            case dw::kLnsCopy:
                if (!emit(false)) return Stop::Visitor;
                break;
            case dw::kLnsAdvancePc:
                address = (address + in.uleb128() * minLength) & mask;
                break;
            case dw::kLnsAdvanceLine:
                line += static_cast<std::uint32_t>(in.sleb128());
                break;
            case dw::kLnsSetFile: {
                std::uint64_t index = in.uleb128();
                file = index > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(index);
                break;
            }
            case dw::kLnsSetColumn:
                in.uleb128();
                break;
            case dw::kLnsNegateStmt:
            case dw::kLnsSetBasicBlock:
                break;
            case dw::kLnsConstAddPc:
                address = (address + ((255u - header.opcodeBase) / header.lineRange) * minLength) & mask;
                break;
            case dw::kLnsFixedAdvancePc:
                address = (address + in.u16()) & mask;
                break;
            default:
                // Standard opcodes of later versions and vendors: skip their operands.
                for (unsigned i = 0; i < header.standardOpcodeLengths[opcode - 1]; ++i) in.uleb128();
                break;
            }
            if (!in.ok()) return Stop::Damaged;
        }
        return Stop::EndOfUnit;
    }
};

}  // namespace

LineTables::LineTables(const DwarfInfo& dwarf) : dwarf_(dwarf) {}

const LineProgramHeader* LineTables::header(std::uint64_t offset) {
    if (auto found = headerAt_.find(offset); found != headerAt_.end()) return &headers_[found->second];
    LineHeaderResult read = readLineHeader(dwarf_, offset);
    if (!read.header) return nullptr;
    headerAt_.emplace(offset, static_cast<std::uint32_t>(headers_.size()));
    headers_.push_back(std::move(*read.header));
    return &headers_.back();
}

void LineTables::buildIndex() {
    indexed_ = true;
    try {
        walkUnits();
    } catch (const std::bad_alloc&) {
        dwarf_.console().error(Msg::OutOfMemory);  // the index keeps what the walk collected
    }
    sortIndex();
}

void LineTables::walkUnits() {
    common::ByteView bytes = dwarf_.section(DebugSection::Line);
    std::uint64_t offset = 0;
    while (offset < bytes.size()) {
        LineHeaderResult read = readLineHeader(dwarf_, offset);
        if (read.next == 0) break;
        if (!read.header && (read.version < 2 || read.version > 5))
            dwarf_.console().error(Msg::UnsupportedVersion, "", ".debug_line", static_cast<unsigned>(read.version));
        if (read.header) {
            auto [slot, added] = headerAt_.emplace(offset, static_cast<std::uint32_t>(headers_.size()));
            if (added) headers_.push_back(std::move(*read.header));
            const std::uint32_t headerIndex = slot->second;
            LineProgramHeader& h = headers_[headerIndex];
            std::uint64_t sequenceStart = h.programStart;
            std::optional<std::uint64_t> firstRow;
            std::uint64_t position = 0;
            ProgramRun run{h, dwarf_.console()};
            std::vector<LineFileEntry> defined;
            run.run(
                bytes, h.programStart,
                [&](std::uint64_t address, std::uint32_t, std::uint32_t, bool end) {
                    if (!end) {
                        if (!firstRow) firstRow = address;
                        return true;
                    }
                    if (firstRow && *firstRow != 0)
                        sequences_.push_back({sequenceStart, headerIndex, *firstRow, address});
                    firstRow.reset();
                    sequenceStart = position;
                    return true;
                },
                [&defined](const LineFileEntry& file) { defined.push_back(file); }, &position);
            // The vector may have moved while the program ran: append through the index.
            headers_[headerIndex].files.insert(headers_[headerIndex].files.end(), defined.begin(), defined.end());
        }
        if (read.next <= offset) break;
        offset = read.next;
    }
}

void LineTables::sortIndex() {
    // Greatest start first; of equal starts, the program that comes first in the section.
    std::vector<std::uint32_t> order(sequences_.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
        const Sequence& x = sequences_[a];
        const Sequence& y = sequences_[b];
        return x.start != y.start ? x.start > y.start : x.program < y.program;
    });
    std::vector<AddressIndex::Interval> intervals;
    intervals.reserve(order.size());
    for (std::uint32_t rank = 0; rank < order.size(); ++rank) {
        const Sequence& s = sequences_[order[rank]];
        intervals.push_back({s.start, s.end, rank, order[rank]});
    }
    index_ = AddressIndex(std::move(intervals));
}

std::size_t LineTables::sequenceCount() {
    if (!indexed_) buildIndex();
    return sequences_.size();
}

const LineTables::Rows& LineTables::rowsOf(std::uint32_t sequence) {
    if (auto found = rowCache_.find(sequence); found != rowCache_.end()) return found->second;
    const Sequence& s = sequences_[sequence];
    const LineProgramHeader& h = headers_[s.header];
    Rows rows;
    ProgramRun run{h, dwarf_.console()};
    run.run(
        dwarf_.section(DebugSection::Line), s.program,
        [&rows](std::uint64_t address, std::uint32_t line, std::uint32_t file, bool end) {
            if (!rows.rows.empty() && address < rows.rows.back().address) rows.ascending = false;
            rows.rows.push_back({address, line, file});
            return !end;
        },
        [](const LineFileEntry&) {});
    if (cachedRows_ + rows.rows.size() > kMaxCachedRows) {
        rowCache_.clear();
        cachedRows_ = 0;
    }
    cachedRows_ += rows.rows.size();
    return rowCache_.emplace(sequence, std::move(rows)).first->second;
}

std::optional<SourceLine> LineTables::lineAt(std::uint64_t address) {
    if (!indexed_) buildIndex();
    auto sequence = index_.find(address);
    if (!sequence) return std::nullopt;
    const Rows& rows = rowsOf(*sequence);
    // The last row at or before the address, up to the first row beyond it.
    const Row* answer = nullptr;
    if (rows.ascending) {
        auto beyond = std::upper_bound(rows.rows.begin(), rows.rows.end(), address,
                                       [](std::uint64_t a, const Row& r) { return a < r.address; });
        if (beyond != rows.rows.begin()) answer = &*(beyond - 1);
    } else {
        for (const Row& row : rows.rows) {
            if (row.address > address) break;
            answer = &row;
        }
    }
    if (!answer) return std::nullopt;
    return describe(headers_[sequences_[*sequence].header], answer->file, answer->line);
}

std::optional<SourceLine> LineTables::fileOf(std::uint64_t programOffset, std::uint64_t index) {
    if (!indexed_) buildIndex();  // so that files the programs define are known
    const LineProgramHeader* h = header(programOffset);
    if (!h || index >= h->files.size()) return std::nullopt;
    return describe(*h, index, 0);
}

SourceLine LineTables::describe(const LineProgramHeader& h, std::uint64_t fileIndex, std::uint32_t line) {
    SourceLine out;
    out.line = line;
    out.compDir = compDirOf(h.offset);
    if (fileIndex < h.files.size()) {
        const LineFileEntry& file = h.files[fileIndex];
        out.file = file.name;
        if (file.directory < h.directories.size()) out.directory = h.directories[file.directory];
    }
    return out;
}

std::string_view LineTables::compDirOf(std::uint64_t programOffset) {
    if (!compDirsRead_) {
        compDirsRead_ = true;
        for (const Unit& unit : dwarf_.units()) {
            if (unit.header.section != DebugSection::Info) continue;
            const UnitBases& bases = dwarf_.bases(unit);
            if (bases.stmtList) compDirs_.emplace(*bases.stmtList, bases.compDir);
        }
    }
    auto found = compDirs_.find(programOffset);
    return found == compDirs_.end() ? std::string_view() : found->second;
}

}  // namespace coresift

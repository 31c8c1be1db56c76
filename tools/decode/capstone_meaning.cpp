// The normalizer's reading of capstone: mnemonics and operands to meaning fields. Spelling
// differences (aliases, suffixes, register names) are mapped here; docs/decoder-differential.md
// has the table.
#include "tools/decode/capstone_meaning.h"

#include <capstone/capstone.h>

#include <cctype>
#include <cstring>
#include <string>

namespace decodetools {
namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
bool endsWith(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}
bool isOneOf(const std::string& s, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (s == n) return true;
    return false;
}

// Canonical register id (see meaning.h); -1 for the zero register and registers not compared.
int canonicalRegister(csh handle, unsigned reg, bool a64, bool& vector) {
    vector = false;
    if (reg == 0) return -1;
    const char* n = cs_reg_name(handle, reg);
    if (!n) return -1;
    const std::string name = n;
    if (name == "sp" || name == "wsp" || name == "r13") return kSp;
    if (name == "pc" || name == "r15") return kPc;
    if (name == "lr") return a64 ? 30 : 14;
    if (name == "fp") return a64 ? 29 : 11;
    if (name == "sb") return 9;
    if (name == "sl") return 10;
    if (name == "ip") return 12;
    if (name == "xzr" || name == "wzr") return -1;
    const char first = name[0];
    const bool digits = name.size() > 1 && std::isdigit(static_cast<unsigned char>(name[1]));
    if (!digits) return -1;
    if (first == 'r' || first == 'x' || first == 'w') return std::stoi(name.substr(1));
    if (first == 's' || first == 'd' || first == 'q' || first == 'v' || first == 'b' || first == 'h') {
        vector = true;
        return std::stoi(name.substr(1));
    }
    return -1;
}

constexpr const char* kArmConditions[16] = {"", "eq", "ne", "hs", "lo", "mi", "pl", "vs", "vc",
                                            "hi", "ls", "ge", "lt", "gt", "le", ""};

// Mnemonics whose "s" suffix means "sets the flags".
bool flagSuffixed(const std::string& m) {
    static const char* const kNames[] = {"add", "sub", "rsb", "rsc", "adc", "sbc", "and", "bic", "orr", "orn", "eor",
                                         "mov", "mvn", "lsl", "lsr", "asr", "ror", "rrx", "mul", "mla", "umull",
                                         "smull", "umlal", "smlal", "neg", "ngc"};
    if (m.size() < 2 || m.back() != 's') return false;
    const std::string stem = m.substr(0, m.size() - 1);
    for (const char* n : kNames)
        if (stem == n) return true;
    return false;
}

// The mnemonic without ".w"/".n"/data types, condition and flag-setting "s"; `setsFlags` is set
// from the suffix (capstone's own flag for A32/T32 is unreliable: it reports ADC as setting them).
std::string baseMnemonic(const cs_insn& insn, bool a64, int condition, bool& setsFlags) {
    std::string m = insn.mnemonic;
    const std::size_t dot = m.find('.');
    if (dot != std::string::npos) m = m.substr(0, dot);
    if (!a64 && condition >= 0 && condition < 14) {
        const char* cc = kArmConditions[condition + 1];
        if (endsWith(m, cc) && m.size() > 2) m.resize(m.size() - 2);
        else if (condition == 2 && endsWith(m, "cs")) m.resize(m.size() - 2);
        else if (condition == 3 && endsWith(m, "cc")) m.resize(m.size() - 2);
    }
    if (!a64) setsFlags = false;
    if (flagSuffixed(m)) {
        m.pop_back();
        setsFlags = true;
    }
    if (isOneOf(m, {"cmp", "cmn", "tst", "teq", "ccmp", "ccmn"})) setsFlags = true;
    return m;
}

std::string classOf(const std::string& m, bool a64) {
    static const std::pair<const char*, const char*> kExact[] = {
        {"b", "b"}, {"bl", "bl"}, {"blx", "bl"}, {"blr", "bl"}, {"br", "br"}, {"ret", "ret"},
        {"retaa", "ret"}, {"retab", "ret"}, {"braa", "br"}, {"brab", "br"}, {"braaz", "br"}, {"brabz", "br"},
        {"blraa", "bl"}, {"blrab", "bl"}, {"blraaz", "bl"}, {"blrabz", "bl"},
        {"cbz", "cbz"}, {"cbnz", "cbz"}, {"tbz", "tbz"}, {"tbnz", "tbz"},
        {"add", "add"}, {"addw", "add"}, {"addg", "add"}, {"sub", "sub"}, {"subw", "sub"}, {"subg", "sub"},
        {"neg", "neg"}, {"rsb", "rsb"}, {"rsc", "rsc"}, {"adc", "adc"}, {"sbc", "sbc"}, {"ngc", "sbc"},
        {"and", "and"}, {"bic", "bic"}, {"orr", "orr"}, {"orn", "orn"}, {"eor", "eor"}, {"eon", "eon"},
        {"mvn", "mvn"}, {"mov", "mov"}, {"movw", "mov"}, {"movz", "mov"}, {"movn", "mov"}, {"movt", "movk"},
        {"movk", "movk"}, {"cmp", "cmp"}, {"cmn", "cmn"}, {"tst", "tst"}, {"teq", "teq"},
        {"lsl", "shift"}, {"lsr", "shift"}, {"asr", "shift"}, {"ror", "shift"}, {"rrx", "shift"},
        {"lslv", "shift"}, {"lsrv", "shift"}, {"asrv", "shift"}, {"rorv", "shift"}, {"extr", "extr"},
        {"ubfx", "bitfield"}, {"sbfx", "bitfield"}, {"ubfiz", "bitfield"}, {"sbfiz", "bitfield"},
        {"bfi", "bitfield"}, {"bfc", "bitfield"}, {"bfxil", "bitfield"}, {"bfm", "bitfield"},
        {"ubfm", "bitfield"}, {"sbfm", "bitfield"}, {"sxtb", "bitfield"}, {"sxth", "bitfield"},
        {"sxtw", "bitfield"}, {"uxtb", "bitfield"}, {"uxth", "bitfield"}, {"uxtw", "bitfield"},
        {"sxtab", "add"}, {"sxtah", "add"}, {"uxtab", "add"}, {"uxtah", "add"},
        {"ccmp", "ccmp"}, {"ccmn", "ccmp"}, {"csel", "csel"}, {"csinc", "csel"}, {"csinv", "csel"},
        {"csneg", "csel"}, {"cset", "csel"}, {"csetm", "csel"}, {"cinc", "csel"}, {"cinv", "csel"},
        {"cneg", "csel"}, {"rev", "rev"}, {"rev16", "rev"}, {"rev32", "rev"}, {"rbit", "rev"}, {"rev64", "rev"},
        {"clz", "clz"}, {"cls", "clz"},
        {"mul", "mul"}, {"mla", "mul"}, {"mls", "mul"}, {"madd", "mul"}, {"msub", "mul"}, {"mneg", "mul"},
        {"smull", "mul"}, {"umull", "mul"}, {"smlal", "mul"}, {"umlal", "mul"}, {"smaddl", "mul"},
        {"umaddl", "mul"}, {"smsubl", "mul"}, {"umsubl", "mul"}, {"smulh", "mul"}, {"umulh", "mul"},
        {"smnegl", "mul"}, {"umnegl", "mul"}, {"sdiv", "div"}, {"udiv", "div"},
        {"adr", "adr"}, {"adrp", "adrp"},
        {"push", "storem"}, {"pop", "loadm"}, {"vpush", "storem"}, {"vpop", "loadm"},
        {"prfm", "prefetch"}, {"prfum", "prefetch"}, {"pld", "prefetch"}, {"pldw", "prefetch"}, {"pli", "prefetch"},
        {"tbb", "tb"}, {"tbh", "tb"},
        {"svc", "system:svc"}, {"hvc", "system:hvc"}, {"smc", "system:smc"}, {"brk", "system:brk"},
        {"bkpt", "system:brk"}, {"hlt", "system:hlt"}, {"dcps1", "system:dcps1"}, {"dcps2", "system:dcps2"},
        {"dcps3", "system:dcps3"}, {"nop", "system:nop"}, {"yield", "system:yield"}, {"wfe", "system:wfe"},
        {"wfi", "system:wfi"}, {"sev", "system:sev"}, {"sevl", "system:sevl"}, {"clrex", "system:clrex"},
        {"dsb", "system:dsb"}, {"ssbb", "system:dsb"}, {"pssbb", "system:dsb"}, {"dmb", "system:dmb"},
        {"isb", "system:isb"}, {"setend", "system:setend"}, {"it", "system:it"}, {"drps", "system:drps"},
        {"eret", "system:eret"}, {"eretaa", "system:eret"}, {"eretab", "system:eret"},
        {"cpsie", "system:cps"}, {"cpsid", "system:cps"}, {"msr", "system:msr"},
    };
    for (const auto& [name, cls] : kExact)
        if (m == name) return cls;
    if (startsWith(m, "ldm") || startsWith(m, "vldm")) return "loadm";
    if (startsWith(m, "stm") || startsWith(m, "vstm")) return "storem";
    if (startsWith(m, "cas")) return "cas";
    if (startsWith(m, "swp")) return "swap";
    static const char* const kAtomics[] = {"add", "clr", "eor", "set", "smax", "smin", "umax", "umin"};
    for (const char* a : kAtomics) {
        if (startsWith(m, (std::string("ld") + a).c_str()) || startsWith(m, (std::string("st") + a).c_str()))
            if (a64) return "atomic";
    }
    if (startsWith(m, "ld") || startsWith(m, "vldr")) return "load";
    if (startsWith(m, "st") || startsWith(m, "vstr")) return "store";
    return "other:" + m;
}

// Bytes per transferred register, from the mnemonic and the first register operand.
int elementBytes(const std::string& m, bool a64, const char* firstRegister) {
    const std::string reg = firstRegister ? firstRegister : "";
    if (startsWith(m, "v") || (a64 && !reg.empty() && std::strchr("bhsdq", reg[0]))) {
        switch (reg.empty() ? 0 : reg[0]) {
        case 'b': return 1;
        case 'h': return 2;
        case 's': return 4;
        case 'd': return 8;
        case 'q': return 16;
        default: return 0;
        }
    }
    if (isOneOf(m, {"ldrsw", "ldursw", "ldpsw", "ldtrsw", "ldapursw"})) return 4;
    if (endsWith(m, "b") && !isOneOf(m, {"ldaxp", "stlxp"})) return 1;
    if (endsWith(m, "h")) return 2;
    if (endsWith(m, "bt")) return 1;
    if (endsWith(m, "ht")) return 2;
    if (!a64) return 4;
    return !reg.empty() && reg[0] == 'w' ? 4 : 8;
}

void setBit(std::uint64_t& general, std::uint64_t& vector, int r, bool isVector) {
    if (r >= 0) (isVector ? vector : general) |= std::uint64_t{1} << r;
}

// Register effects that capstone's access lists miss or misstate, rebuilt from the operands and
// the class: shift registers, accumulating long multiplies, register lists, write-back bases,
// branch targets, operands without access flags. Exception calls report no registers.
void repairRegisterEffects(csh h, const cs_insn& insn, bool a64, const std::string& base, Meaning& m) {
    const unsigned count = a64 ? insn.detail->arm64.op_count : insn.detail->arm.op_count;
    auto regOf = [&](unsigned k, bool& vector) -> int {
        const unsigned reg = a64 ? static_cast<unsigned>(insn.detail->arm64.operands[k].reg)
                                 : static_cast<unsigned>(insn.detail->arm.operands[k].reg);
        return canonicalRegister(h, reg, a64, vector);
    };
    auto isReg = [&](unsigned k) {
        return a64 ? insn.detail->arm64.operands[k].type == ARM64_OP_REG : insn.detail->arm.operands[k].type == ARM_OP_REG;
    };
    auto access = [&](unsigned k) {
        return a64 ? insn.detail->arm64.operands[k].access : insn.detail->arm.operands[k].access;
    };
    if (startsWith(m.cls, "system:")) {
        m.read = m.written = m.vectorRead = m.vectorWritten = 0;
        m.setsFlags = false;
        return;
    }
    const bool immediateBranch = isOneOf(m.cls, {"b", "bl", "cbz", "tbz"}) && !(count && isReg(0) && m.cls == "bl");
    if (isOneOf(m.cls, {"b", "bl", "cbz", "tbz", "br", "ret", "tb"})) m.written |= std::uint64_t{1} << kPc;
    if (immediateBranch || m.cls == "bl") m.read &= ~(std::uint64_t{1} << kPc);  // the link value
    if (m.cls == "adr" || m.cls == "adrp") m.read |= std::uint64_t{1} << kPc;
    if (isOneOf(m.cls, {"br", "ret", "bl"}) && count && isReg(0)) {
        bool vector = false;
        setBit(m.read, m.vectorRead, regOf(0, vector), vector);
    }
    if (m.cls == "bl") m.written |= std::uint64_t{1} << (a64 ? 30 : 14);
    if (m.cls == "ret" && count == 0) m.read |= std::uint64_t{1} << (a64 ? 30 : 14);
    if ((m.cls == "load" || m.cls == "prefetch") && count == 2 && a64 && insn.detail->arm64.operands[1].type == ARM64_OP_IMM)
        m.read |= std::uint64_t{1} << kPc;  // literal load
    // A store's first register is stored (read), unless it is an exclusive store's status.
    const bool statusFirst = startsWith(base, "strex") || startsWith(base, "stlex") || startsWith(base, "stxr") ||
                             startsWith(base, "stlxr") || startsWith(base, "stxp") || startsWith(base, "stlxp");
    if (m.cls == "store" && !statusFirst && count && isReg(0)) {
        bool vector = false;
        const int r = regOf(0, vector);
        if (r >= 0 && !vector) {
            m.written &= ~(std::uint64_t{1} << r);
            m.read |= std::uint64_t{1} << r;
        }
    }
    // Compares name no destination: a first operand capstone marks as written is read.
    if (isOneOf(m.cls, {"cmp", "cmn", "tst", "teq"})) {
        m.read |= m.written;
        m.written = 0;
    }
    // The destination of a data-processing form is written; it is read only when it is also a
    // source (capstone marks the destinations of MOVZ/MOVN and UBFM/SBFM aliases as read).
    const bool dataProcessing = isOneOf(m.cls, {"add", "sub", "adc", "sbc", "rsb", "rsc", "and", "bic", "orr", "orn",
                                               "eor", "eon", "mvn", "mov", "neg", "shift", "bitfield", "extr", "adr",
                                               "adrp", "csel", "rev", "clz", "mul", "div"});
    if (dataProcessing && count && isReg(0)) {
        bool vector = false;
        const int destination = regOf(0, vector);
        if (destination >= 0 && !vector) {
            m.written |= std::uint64_t{1} << destination;
            bool source = false;
            for (unsigned k = 1; k < count; ++k) {
                bool v2 = false;
                if (isReg(k) && regOf(k, v2) == destination) source = true;
            }
            const bool readsDestination = isOneOf(base, {"bfi", "bfxil", "bfm", "bfc", "movk", "movt", "umlal", "smlal"});
            if (!source && !readsDestination) m.read &= ~(std::uint64_t{1} << destination);
        }
    }
    if ((base == "ldrexd" || base == "ldaexd") && count >= 3) {
        bool vector = false;
        const int second = regOf(1, vector);
        m.read &= ~(std::uint64_t{1} << second);
        m.written |= std::uint64_t{1} << second;
        const int address = canonicalRegister(h, static_cast<unsigned>(insn.detail->arm.operands[2].mem.base), false, vector);
        if (address >= 0) m.read |= std::uint64_t{1} << address;
    }
    // Thumb's two-operand forms ("adds r2, #1", "lsls r4, r5") read their destination too.
    if (!a64 && insn.size == 2 && count == 2 && isReg(0) &&
        isOneOf(m.cls, {"add", "sub", "adc", "sbc", "and", "bic", "orr", "eor", "shift", "mul"}) &&
        !isOneOf(base, {"uxtb", "uxth", "sxtb", "sxth", "rrx"}) &&
        !(m.cls == "shift" && !isReg(1))) {
        bool vector = false;
        m.read |= std::uint64_t{1} << regOf(0, vector);
    }
    // Operands without access flags: a destination first, sources after it.
    const bool writesFirst = !isOneOf(m.cls, {"store", "storem", "cmp", "cmn", "tst", "teq", "ccmp", "cbz", "tbz",
                                              "br", "ret", "bl", "prefetch", "tb"});
    for (unsigned k = 0; k < count; ++k) {
        if (!isReg(k) || access(k)) continue;
        bool vector = false;
        const int r = regOf(k, vector);
        if (k == 0 && writesFirst) setBit(m.written, m.vectorWritten, r, vector);
        else setBit(m.read, m.vectorRead, r, vector);
    }
    if (!a64) {
        for (unsigned k = 0; k < count; ++k) {
            const cs_arm_op& op = insn.detail->arm.operands[k];
            if (op.shift.type >= ARM_SFT_ASR_REG && op.shift.type <= ARM_SFT_ROR_REG) {
                bool vector = false;
                setBit(m.read, m.vectorRead, canonicalRegister(h, op.shift.value, false, vector), vector);
            }
        }
        if ((base == "umlal" || base == "smlal") && count >= 2) {
            bool vector = false;
            setBit(m.read, m.vectorRead, regOf(0, vector), vector);
            setBit(m.read, m.vectorRead, regOf(1, vector), vector);
        }
    }
    if (m.cls == "loadm" || m.cls == "storem") {
        const bool stackForm = base == "push" || base == "pop" || base == "vpush" || base == "vpop";
        m.read = m.written = m.vectorRead = m.vectorWritten = 0;
        bool vector = false;
        const int baseRegister = stackForm ? kSp : regOf(0, vector);
        const bool writeBack = stackForm || insn.detail->arm.writeback;
        setBit(m.read, m.vectorRead, baseRegister, false);
        if (writeBack) setBit(m.written, m.vectorWritten, baseRegister, false);
        for (unsigned k = stackForm ? 0 : 1; k < count; ++k) {
            if (!isReg(k)) continue;
            const int r = regOf(k, vector);
            if (m.cls == "loadm") setBit(m.written, m.vectorWritten, r, vector);
            else setBit(m.read, m.vectorRead, r, vector);
        }
        return;
    }
    const bool writeBack = a64 ? insn.detail->arm64.writeback : insn.detail->arm.writeback;
    if (writeBack) {
        for (unsigned k = 0; k < count; ++k) {
            const bool memory = a64 ? insn.detail->arm64.operands[k].type == ARM64_OP_MEM
                                    : insn.detail->arm.operands[k].type == ARM_OP_MEM;
            if (!memory) continue;
            bool vector = false;
            const unsigned reg = a64 ? static_cast<unsigned>(insn.detail->arm64.operands[k].mem.base)
                                     : static_cast<unsigned>(insn.detail->arm.operands[k].mem.base);
            setBit(m.written, m.vectorWritten, canonicalRegister(h, reg, a64, vector), false);
            break;
        }
    }
}

}  // namespace

std::string mnemonicClass(const std::string& mnemonic, bool a64) {
    std::string m = mnemonic;
    const std::size_t dot = m.find('.');
    if (dot != std::string::npos) m = m.substr(0, dot);
    // A32/T32 text carries the condition: strip it when what remains is a known mnemonic.
    if (!a64 && classOf(m, false).rfind("other:", 0) == 0 && m.size() > 2) {
        for (int c = 1; c <= 14; ++c) {
            const std::string cc = kArmConditions[c];
            if (cc.empty() || !endsWith(m, cc.c_str())) continue;
            std::string stem = m.substr(0, m.size() - 2);
            if (flagSuffixed(stem)) stem.pop_back();
            if (classOf(stem, false).rfind("other:", 0) != 0) {
                m = stem;
                break;
            }
        }
    }
    if (flagSuffixed(m)) m.pop_back();
    if (startsWith(m, "it") && m.find_first_not_of("ite", 2) == std::string::npos) return "system:it";
    return classOf(m, a64);
}

CapstoneOracle::CapstoneOracle() {
    const cs_arch arch[3] = {CS_ARCH_ARM, CS_ARCH_ARM, CS_ARCH_ARM64};
    const cs_mode mode[3] = {static_cast<cs_mode>(CS_MODE_ARM | CS_MODE_V8),
                             static_cast<cs_mode>(CS_MODE_THUMB | CS_MODE_V8), CS_MODE_ARM};
    for (int i = 0; i < 3; ++i) {
        csh h = 0;
        if (cs_open(arch[i], mode[i], &h) != CS_ERR_OK) continue;
        handles_[i] = h;
        cs_option(h, CS_OPT_DETAIL, CS_OPT_ON);  // before cs_malloc, which sizes the detail by it
        scratch_[i] = cs_malloc(h);
    }
}

void CapstoneOracle::resetThumb() {
    if (!handles_[1]) return;
    csh h = handles_[1];
    cs_free(static_cast<cs_insn*>(scratch_[1]), 1);
    cs_close(&h);
    handles_[1] = 0;
    scratch_[1] = nullptr;
    if (cs_open(CS_ARCH_ARM, static_cast<cs_mode>(CS_MODE_THUMB | CS_MODE_V8), &h) != CS_ERR_OK) return;
    handles_[1] = h;
    cs_option(h, CS_OPT_DETAIL, CS_OPT_ON);
    scratch_[1] = cs_malloc(h);
}

CapstoneOracle::~CapstoneOracle() {
    for (int i = 0; i < 3; ++i) {
        if (!handles_[i]) continue;
        csh h = handles_[i];
        cs_free(static_cast<cs_insn*>(scratch_[i]), 1);
        cs_close(&h);
    }
}

std::size_t CapstoneOracle::disassembleAll(Isa isa, const std::uint8_t* bytes, std::size_t size, std::uint64_t address,
                                           bool details) {
    const int i = static_cast<int>(isa);
    csh h = handles_[i];
    cs_option(h, CS_OPT_DETAIL, details ? CS_OPT_ON : CS_OPT_OFF);
    cs_insn* insn = static_cast<cs_insn*>(scratch_[i]);
    std::size_t count = 0;
    const std::uint8_t* code = bytes;
    while (size >= 2) {
        if (cs_disasm_iter(h, &code, &size, &address, insn)) {
            ++count;
        } else {
            const std::size_t step = isa == Isa::Thumb ? 2 : 4;
            if (size < step) break;
            code += step;
            size -= step;
            address += step;
        }
    }
    return count;
}

Meaning CapstoneOracle::decode(Isa isa, const std::uint8_t* bytes, std::size_t available, std::uint64_t address) {
    Meaning m;
    const int i = static_cast<int>(isa);
    csh h = handles_[i];
    const bool a64 = isa == Isa::A64;
    cs_option(h, CS_OPT_DETAIL, CS_OPT_ON);
    cs_insn* insn = static_cast<cs_insn*>(scratch_[i]);
    const std::uint8_t* code = bytes;
    std::size_t size = available;
    std::uint64_t at = address;
    if (!cs_disasm_iter(h, &code, &size, &at, insn)) return m;
    m.status = Status::Defined;
    m.length = insn->size;
    m.text = std::string(insn->mnemonic) + " " + insn->op_str;

    // Registers read and written, explicit and implicit.
    cs_regs readList, writeList;
    std::uint8_t readCount = 0, writeCount = 0;
    if (cs_regs_access(h, insn, readList, &readCount, writeList, &writeCount) == CS_ERR_OK) {
        for (unsigned k = 0; k < readCount; ++k) {
            bool vector = false;
            const int r = canonicalRegister(h, readList[k], a64, vector);
            if (r >= 0) (vector ? m.vectorRead : m.read) |= std::uint64_t{1} << r;
        }
        for (unsigned k = 0; k < writeCount; ++k) {
            bool vector = false;
            const int r = canonicalRegister(h, writeList[k], a64, vector);
            if (r >= 0) (vector ? m.vectorWritten : m.written) |= std::uint64_t{1} << r;
        }
    }

    int condition = 14;
    bool setsFlags = false;
    if (a64) {
        const cs_arm64& d = insn->detail->arm64;
        if (d.cc >= ARM64_CC_EQ && d.cc <= ARM64_CC_LE) condition = d.cc - ARM64_CC_EQ;
        setsFlags = d.update_flags;
    } else {
        const cs_arm& d = insn->detail->arm;
        if (d.cc >= ARM_CC_EQ && d.cc <= ARM_CC_LE) condition = d.cc - ARM_CC_EQ;
        setsFlags = d.update_flags;
    }
    std::string base = baseMnemonic(*insn, a64, condition, setsFlags);
    m.setsFlags = setsFlags;
    m.cls = classOf(base, a64);
    if (startsWith(base, "it") && base.find_first_not_of("ite", 2) == std::string::npos) m.cls = "system:it";
    std::uint32_t encoding = 0;
    std::memcpy(&encoding, insn->bytes, insn->size < 4 ? insn->size : 4);
    // A32 LDR/STR of one register with SP post-incremented / pre-decremented by 4 print as POP/PUSH.
    if (isa == Isa::Arm && (base == "pop" || base == "push") && insn->size == 4 &&
        ((encoding & 0x0FFF0FFF) == 0x049D0004 || (encoding & 0x0FFF0FFF) == 0x052D0004))
        m.cls = base == "pop" ? "load" : "store";
    if (m.cls == "other:bx") m.cls = std::strcmp(insn->op_str, "lr") == 0 ? "ret" : "br";
    if (base == "udf" || base == "trap") {  // permanently undefined encodings
        m = Meaning();
        return m;
    }
    if (m.cls != "cbz" && m.cls != "tbz" && m.cls != "system:it") m.condition = condition;
    // The select aliases print the inverted condition of their encoding.
    if (isOneOf(base, {"cset", "csetm", "cinc", "cinv", "cneg"}) && condition < 14) m.condition = condition ^ 1;

    // Operands.
    const unsigned count = a64 ? insn->detail->arm64.op_count : insn->detail->arm.op_count;
    const char* firstRegister = nullptr;
    int memoryOperand = -1;
    std::int64_t lastImmediate = 0;
    bool hasImmediate = false;
    int registerOperands = 0;
    for (unsigned k = 0; k < count; ++k) {
        if (a64) {
            const cs_arm64_op& op = insn->detail->arm64.operands[k];
            if (op.type == ARM64_OP_REG) {
                if (!firstRegister) firstRegister = cs_reg_name(h, op.reg);
                ++registerOperands;

            } else if (op.type == ARM64_OP_IMM || op.type == ARM64_OP_CIMM) {
                hasImmediate = true;
                lastImmediate = op.imm;
                if (op.shift.type == ARM64_SFT_LSL) lastImmediate = static_cast<std::int64_t>(static_cast<std::uint64_t>(op.imm) << op.shift.value);
            } else if (op.type == ARM64_OP_MEM && memoryOperand < 0) {
                memoryOperand = static_cast<int>(k);
            }
        } else {
            const cs_arm_op& op = insn->detail->arm.operands[k];
            if (op.type == ARM_OP_REG) {
                if (!firstRegister) firstRegister = cs_reg_name(h, static_cast<unsigned>(op.reg));
                ++registerOperands;

            } else if (op.type == ARM_OP_IMM || op.type == ARM_OP_PIMM || op.type == ARM_OP_CIMM) {
                // "#40, #2": an immediate and its rotation, printed apart
                if (hasImmediate && k == count - 1 && memoryOperand < 0 && op.type == ARM_OP_IMM && lastImmediate >= 0 &&
                    lastImmediate < 256 && op.imm >= 0 && op.imm < 32 && !(op.imm & 1)) {
                    const std::uint32_t v = static_cast<std::uint32_t>(lastImmediate);
                    const unsigned r = static_cast<unsigned>(op.imm);
                    lastImmediate = r ? static_cast<std::int64_t>((v >> r) | (v << (32 - r))) : v;
                    continue;
                }
                hasImmediate = true;
                lastImmediate = op.subtracted ? -static_cast<std::int64_t>(op.imm) : op.imm;
            } else if (op.type == ARM_OP_MEM && memoryOperand < 0) {
                memoryOperand = static_cast<int>(k);
            }
        }
    }
    const bool dpClass = isOneOf(m.cls, {"add", "sub", "rsb", "rsc", "adc", "sbc", "and", "bic", "orr", "orn", "eor",
                                         "eon", "mvn", "mov", "cmp", "cmn", "tst", "teq", "neg"});
    const bool a32Width = !a64 || (firstRegister && firstRegister[0] == 'w');
    if (dpClass && hasImmediate) {
        m.hasImmediate = true;
        std::uint64_t value = static_cast<std::uint64_t>(lastImmediate);
        if (base == "movn") value = ~value;  // capstone shows MOVN's encoded value
        m.immediate = value & (a32Width ? 0xFFFFFFFFull : ~0ull);
    }
    repairRegisterEffects(h, *insn, a64, base, m);
    if (m.cls == "add" && m.hasImmediate && m.immediate == 0 && registerOperands <= 2) m.cls = "mov";
    // ORR/ORN from the zero register are MOV/MVN.
    if (a64 && m.cls == "orn" && count >= 2 && insn->detail->arm64.operands[1].type == ARM64_OP_REG &&
        (insn->detail->arm64.operands[1].reg == ARM64_REG_XZR || insn->detail->arm64.operands[1].reg == ARM64_REG_WZR))
        m.cls = "mvn";
    // Operations on the zero register: ADD/ORR/EOR of it move (or shift) the other operand; a
    // bitfield of it is 0.
    auto isZero = [&](unsigned k) {
        return k < count && insn->detail->arm64.operands[k].type == ARM64_OP_REG &&
               (insn->detail->arm64.operands[k].reg == ARM64_REG_XZR || insn->detail->arm64.operands[k].reg == ARM64_REG_WZR);
    };
    if (a64 && isOneOf(m.cls, {"add", "orr", "eor"}) && count == 3 && isZero(1)) {
        const std::string operands = insn->op_str;
        const bool shiftNamed = operands.find("sl #") != std::string::npos || operands.find("sr #") != std::string::npos ||
                                operands.find("ror #") != std::string::npos;
        const bool byZero = operands.size() >= 3 && operands.compare(operands.size() - 3, 3, " #0") == 0;
        const bool shifted = !isZero(2) && shiftNamed && !byZero;
        m.cls = shifted ? "shift" : "mov";
    }
    if (a64 && (isOneOf(base, {"lsl", "lsr", "asr", "ror"}) || (m.cls == "bitfield" && !isOneOf(base, {"bfi", "bfxil", "bfm", "bfc"}))) &&
        isZero(1))
        m.cls = "mov";
    if (a64 && (base == "sbfiz" || base == "ubfiz") && count == 4 &&
        insn->detail->arm64.operands[2].imm + insn->detail->arm64.operands[3].imm ==
            (firstRegister && firstRegister[0] == 'w' ? 32 : 64))
        m.cls = "shift";  // a field that reaches the top bit is a shift left
    if (a64 && m.cls == "add" && count == 3 && insn->detail->arm64.operands[2].type == ARM64_OP_REG &&
        (insn->detail->arm64.operands[2].reg == ARM64_REG_XZR || insn->detail->arm64.operands[2].reg == ARM64_REG_WZR))
        m.cls = "mov";  // adding the zero register moves
    if (a64 && base == "hint" && hasImmediate && (lastImmediate == 6 || lastImmediate == 7)) m.cls = "system:nop";
    // ADD/SUB from the PC with an immediate is ADR.
    if (!a64 && (m.cls == "add" || m.cls == "sub") && !m.setsFlags && hasImmediate && registerOperands == 2 &&
        insn->detail->arm.operands[1].type == ARM_OP_REG) {
        bool vector = false;
        if (canonicalRegister(h, static_cast<unsigned>(insn->detail->arm.operands[1].reg), false, vector) == kPc) {
            const std::uint64_t pc = isa == Isa::Thumb ? ((address + 4) & ~3ull) : address + 8;
            m.hasTarget = true;
            m.target = (m.cls == "add" ? pc + static_cast<std::uint64_t>(lastImmediate) : pc - static_cast<std::uint64_t>(lastImmediate)) & 0xFFFFFFFFu;
            m.cls = "adr";
            m.hasImmediate = false;
        }
    }
    // Fields that end at the top bit are shifts right.
    if (!a64 && (base == "ubfx" || base == "sbfx") && count == 4 &&
        insn->detail->arm.operands[2].imm + insn->detail->arm.operands[3].imm == 32)
        m.cls = insn->detail->arm.operands[2].imm == 0 ? "mov" : "shift";
    // UXTB/UXTH/SXTB/SXTH of a field rotated to the top are shifts right.
    if (!a64 && isOneOf(base, {"uxtb", "uxth", "sxtb", "sxth"}) && count == 2) {
        const cs_arm_op& source = insn->detail->arm.operands[1];
        const unsigned width = base.back() == 'b' ? 8 : 16;
        if (source.shift.type == ARM_SFT_ROR && source.shift.value + width == 32) m.cls = "shift";
    }
    // Branch and address targets.
    const bool branch = isOneOf(m.cls, {"b", "bl", "cbz", "tbz"});
    if ((branch || m.cls == "adr" || m.cls == "adrp") && hasImmediate && !m.hasTarget) {
        m.hasTarget = true;
        m.target = static_cast<std::uint64_t>(lastImmediate);
        if (!a64 && m.cls == "adr") {
            const std::uint64_t pc = isa == Isa::Thumb ? ((address + 4) & ~3ull) : address + 8;
            m.target = (pc + static_cast<std::uint64_t>(lastImmediate)) & 0xFFFFFFFFu;
        }
        if (!a64) m.target &= 0xFFFFFFFFu;
    }
    // Memory access.
    const bool memoryClass = isOneOf(m.cls, {"load", "store", "loadm", "storem", "prefetch", "tb", "cas", "swap", "atomic"});
    if (memoryClass) {
        m.hasMemory = true;
        m.writeBack = a64 ? insn->detail->arm64.writeback : insn->detail->arm.writeback;
        if (isa == Isa::Arm && (base == "pop" || base == "push") && (m.cls == "load" || m.cls == "store")) {
            m.memoryBase = kSp;
            m.displacement = base == "pop" ? 4 : -4;
            m.writeBack = true;
        } else if (m.cls == "loadm" || m.cls == "storem") {
            if (base == "push" || base == "pop" || base == "vpush" || base == "vpop") {
                m.memoryBase = kSp;
                m.writeBack = true;
            } else {
                bool vector = false;
                m.memoryBase = canonicalRegister(h, static_cast<unsigned>(insn->detail->arm.operands[0].reg), a64, vector);
            }
        } else if (memoryOperand >= 0) {
            bool vector = false;
            if (a64) {
                const arm64_op_mem& mem = insn->detail->arm64.operands[memoryOperand].mem;
                m.memoryBase = canonicalRegister(h, mem.base, true, vector);
                m.memoryIndex = canonicalRegister(h, mem.index, true, vector);
                m.displacement = mem.disp;
                if (static_cast<unsigned>(memoryOperand) + 1 < count &&
                    insn->detail->arm64.operands[memoryOperand + 1].type == ARM64_OP_IMM)
                    m.displacement = insn->detail->arm64.operands[memoryOperand + 1].imm;
            } else {
                const cs_arm_op& op = insn->detail->arm.operands[memoryOperand];
                m.memoryBase = canonicalRegister(h, static_cast<unsigned>(op.mem.base), false, vector);
                m.memoryIndex = canonicalRegister(h, static_cast<unsigned>(op.mem.index), false, vector);
                m.displacement = op.mem.disp;
                if (op.subtracted && m.displacement > 0) m.displacement = -m.displacement;
                if (static_cast<unsigned>(memoryOperand) + 1 < count) {
                    const cs_arm_op& post = insn->detail->arm.operands[memoryOperand + 1];
                    if (post.type == ARM_OP_IMM)
                        m.displacement = post.subtracted ? -static_cast<std::int64_t>(post.imm) : post.imm;
                    else if (post.type == ARM_OP_REG)
                        m.memoryIndex = canonicalRegister(h, static_cast<unsigned>(post.reg), false, vector);
                }
            }
            if (m.memoryIndex >= 0 && m.cls != "tb") m.displacement = 0;
            if (m.memoryBase == kPc && m.memoryIndex < 0) {
                const std::uint64_t pc = isa == Isa::Thumb ? ((address + 4) & ~3ull) : isa == Isa::Arm ? address + 8 : address;
                m.hasTarget = true;
                m.target = pc + static_cast<std::uint64_t>(m.displacement);
                if (!a64) m.target &= 0xFFFFFFFFu;
            }
        } else if (a64 && hasImmediate) {  // literal load: the operand is the address
            m.memoryBase = kPc;
            m.displacement = static_cast<std::int64_t>(static_cast<std::uint64_t>(lastImmediate) - address);
            m.hasTarget = true;
            m.target = static_cast<std::uint64_t>(lastImmediate);
        }
        if (m.cls != "loadm" && m.cls != "storem" && m.cls != "prefetch" && m.cls != "tb") {
            // Exclusive stores name their status register first; the transfer register follows.
            const bool statusFirst = a64 && m.cls == "store" && (startsWith(base, "stxr") || startsWith(base, "stlxr") ||
                                                                 startsWith(base, "stxp") || startsWith(base, "stlxp"));
            const char* transfer = firstRegister;
            if (statusFirst && count >= 2 && insn->detail->arm64.operands[1].type == ARM64_OP_REG)
                transfer = cs_reg_name(h, insn->detail->arm64.operands[1].reg);
            m.elementBytes = elementBytes(base, a64, transfer);
        }
    }
    return m;
}

}  // namespace decodetools

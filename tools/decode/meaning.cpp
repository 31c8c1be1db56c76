#include "tools/decode/meaning.h"

#include <cstdio>

namespace decodetools {

std::vector<std::string> differences(const Meaning& a, const Meaning& b) {
    std::vector<std::string> out;
    if (a.status != b.status) {
        out.push_back(a.status == Status::Undefined ? "we-undefined" : b.status == Status::Undefined ? "oracle-undefined" : "status");
        return out;
    }
    if (a.status != Status::Defined) return out;
    if (a.length != b.length) out.push_back("length");
    if (a.cls != b.cls) out.push_back("class");
    if (a.written != b.written || a.vectorWritten != b.vectorWritten) out.push_back("written");
    if (a.read != b.read || a.vectorRead != b.vectorRead) out.push_back("read");
    if (a.setsFlags != b.setsFlags) out.push_back("flags");
    if (a.condition != b.condition) out.push_back("condition");
    if (a.hasImmediate && b.hasImmediate && a.immediate != b.immediate) out.push_back("immediate");
    if (a.hasTarget != b.hasTarget || (a.hasTarget && a.target != b.target)) out.push_back("target");
    if (a.hasMemory != b.hasMemory) {
        out.push_back("memory");
    } else if (a.hasMemory) {
        if (a.memoryBase != b.memoryBase || a.memoryIndex != b.memoryIndex) out.push_back("address-registers");
        if (a.displacement != b.displacement) out.push_back("displacement");
        if (a.writeBack != b.writeBack) out.push_back("writeback");
        if (a.elementBytes && b.elementBytes && a.elementBytes != b.elementBytes) out.push_back("access-size");
    }
    return out;
}

namespace {
std::string regs(std::uint64_t general, std::uint64_t vector) {
    std::string s;
    for (int i = 0; i < 33; ++i)
        if (general >> i & 1) s += (s.empty() ? "" : ",") + (i == kSp ? std::string("sp") : i == kPc ? std::string("pc") : "r" + std::to_string(i));
    for (int i = 0; i < 64; ++i)
        if (vector >> i & 1) s += (s.empty() ? "v" : ",v") + std::to_string(i);
    return s;
}
}  // namespace

std::string describe(const Meaning& m) {
    if (m.status == Status::Undefined) return "undefined";
    if (m.status == Status::Unmodelled) return "unmodelled";
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%s w{%s} r{%s}%s c%d", m.cls.c_str(), regs(m.written, m.vectorWritten).c_str(),
                  regs(m.read, m.vectorRead).c_str(), m.setsFlags ? " S" : "", m.condition);
    std::string s = buffer;
    if (m.hasImmediate) s += " imm=" + std::to_string(m.immediate);
    if (m.hasTarget) {
        std::snprintf(buffer, sizeof buffer, " ->%llx", static_cast<unsigned long long>(m.target));
        s += buffer;
    }
    if (m.hasMemory) {
        std::snprintf(buffer, sizeof buffer, " [b%d i%d %+lld%s] %dB", m.memoryBase, m.memoryIndex,
                      static_cast<long long>(m.displacement), m.writeBack ? "!" : "", m.elementBytes);
        s += buffer;
    }
    return s;
}

}  // namespace decodetools

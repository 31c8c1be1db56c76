#include "tools/fixturekit/backtrace_compare.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tools/corekit/elf_constants.h"
#include "tools/corekit/elf_file.h"

namespace fixturekit {

namespace fs = std::filesystem;

namespace {

std::string demangle(const std::string& name) {
    if (name.rfind("_Z", 0) != 0) return name;
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
    return status == 0 && text ? std::string(text.get()) : name;
}

std::string describe(const TextFrame& f) {
    if (f.unknown) return "......";
    std::string s = f.module.empty() ? "?" : f.module;
    s += " ";
    if (f.signalFrame) s += "<signal frame> ";
    const std::string name = normalizeFunction(f.function);
    s += name.empty() ? "??" : name;
    if (f.offset) s += "+" + std::to_string(*f.offset);
    if (f.line) s += " @" + f.file + ":" + std::to_string(f.line);
    return s;
}

bool moduleMatches(const TextFrame& ours, const TextFrame& expected) {
    if (ours.module.empty() || expected.module.empty()) return true;
    return ours.module == expected.module || ours.module == expected.alternateModule;
}

bool moduleListed(const TextFrame& f, const std::vector<std::string>& modules) {
    if (f.module.empty()) return true;  // gdb names no module for frames with source lines or "??"
    return std::find(modules.begin(), modules.end(), f.module) != modules.end();
}

}  // namespace

const std::map<std::string, std::set<std::uint64_t>>& SymbolAliases::table(const std::string& module) {
    auto found = tables_.find(module);
    if (found != tables_.end()) return found->second;
    auto& table = tables_[module];
    std::error_code ec;
    if (folder_.empty() || module.empty()) return table;
    for (auto it = fs::recursive_directory_iterator(folder_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->path().filename() != module) continue;
        auto file = corekit::ElfFile::load(it->path().string());
        if (!file) continue;
        for (const auto& s : file->symbols()) {
            if (s.type != corekit::elf::STT_FUNC && s.type != corekit::elf::STT_NOTYPE) continue;
            const std::string name = normalizeFunction(demangle(s.name));
            if (!name.empty()) table[name].insert(s.value & ~std::uint64_t{1});
        }
        break;
    }
    return table;
}

bool SymbolAliases::sameAddress(const std::string& module, const std::string& a, const std::string& b) {
    const auto& t = table(module);
    auto x = t.find(a), y = t.find(b);
    if (x == t.end() || y == t.end()) return false;
    for (std::uint64_t address : x->second)
        if (y->second.count(address)) return true;
    return false;
}

namespace {

// Whether our frame agrees with the expected one; `afterSignal` for the frame right after a
// signal frame, whose pc Android moves back to the call and ours does not.
bool framesAgree(const TextFrame& ours, const TextFrame& expected, bool afterSignal, bool gdb,
                 SymbolAliases& aliases) {
    // Android's "<unknown>" is a pc in no mapping: ours prints it outside any module, by address.
    if (expected.unknown) return ours.unknown || (ours.module.empty() && normalizeFunction(ours.function).empty());
    if (expected.signalFrame) return ours.signalFrame;
    if (ours.unknown || ours.signalFrame) return false;
    if (!moduleMatches(ours, expected)) return false;
    const std::string a = normalizeFunction(ours.function);
    const std::string b = normalizeFunction(expected.function);
    if (a != b) {
        const std::string& module = ours.module.empty() ? expected.module : ours.module;
        if (a.empty() || b.empty() || !aliases.sameAddress(module, a, b)) return false;
    }
    if (!gdb && expected.offset && !b.empty()) {
        const std::int64_t mine = ours.offset.value_or(0);
        const std::int64_t diff = mine - *expected.offset;
        if (diff != 0 && !(afterSignal && (diff == 4 || diff == 2))) return false;
    }
    if (gdb && expected.line) {
        if (ours.line != expected.line) return false;
        if (!ours.file.empty() && !expected.file.empty() && ours.file != expected.file) return false;
    }
    return true;
}

void compareThread(const TextThread& ours, const TextThread& expected, bool gdb, const CompareOptions& options,
                   SymbolAliases& aliases, CompareResult& result) {
    std::size_t counted = expected.frames.size();
    if (!options.modules.empty()) {
        counted = 0;
        while (counted < expected.frames.size() && moduleListed(expected.frames[counted], options.modules)) ++counted;
    }
    for (std::size_t i = 0; i < counted; ++i) {
        const TextFrame& e = expected.frames[i];
        const bool afterSignal = i > 0 && expected.frames[i - 1].signalFrame;
        const bool have = i < ours.frames.size();
        const bool agree = have && framesAgree(ours.frames[i], e, afterSignal, gdb, aliases);
        result.total += 1;
        result.agree += agree;
        result.text += "  #" + std::to_string(i) + (agree ? " agree   " : " differ  ") + "expected: " + describe(e) +
                       "  |  ours: " + (have ? describe(ours.frames[i]) : std::string("(none)")) + "\n";
    }
    for (std::size_t i = counted; i < ours.frames.size(); ++i) {
        if (i >= expected.frames.size())
            result.text += "  #" + std::to_string(i) + " extra   ours: " + describe(ours.frames[i]) + "\n";
    }
}

}  // namespace

CompareResult compareBacktraces(const std::vector<TextThread>& ours, const std::vector<TextThread>& expected,
                                bool expectedIsGdb, const CompareOptions& options) {
    CompareResult result;
    SymbolAliases aliases(options.symbolsFolder);
    if (ours.empty()) result.text += "the report holds no native call stack\n";
    for (std::size_t t = 0; t < ours.size(); ++t) {
        const TextThread* match = nullptr;
        if (!expectedIsGdb || expected.size() == 1) {
            // output.txt (and a plain "bt") describe the crashing thread only.
            if (t == 0 && !expected.empty()) match = &expected[0];
        } else {
            for (const auto& e : expected)
                for (std::uint32_t tid : e.tids)
                    if (std::find(ours[t].tids.begin(), ours[t].tids.end(), tid) != ours[t].tids.end()) match = &e;
        }
        std::string tids;
        for (std::uint32_t tid : ours[t].tids) tids += (tids.empty() ? "" : ",") + std::to_string(tid);
        result.text += "thread " + (tids.empty() ? std::string("?") : tids) + (t == 0 ? " (crashing)" : "") + ":\n";
        if (!match) {
            result.text += "  no expected frames for this thread\n";
            continue;
        }
        compareThread(ours[t], *match, expectedIsGdb, options, aliases, result);
    }
    result.text += std::to_string(result.agree) + "/" + std::to_string(result.total) + " frames agree\n";
    return result;
}

}  // namespace fixturekit

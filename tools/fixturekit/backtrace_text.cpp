#include "tools/fixturekit/backtrace_text.h"

#include <regex>
#include <sstream>

namespace fixturekit {

namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The position of the '(' that opens the group closed by the last character (a ')'), or npos.
std::size_t openingOfLastGroup(const std::string& s) {
    if (s.empty() || s.back() != ')') return std::string::npos;
    int depth = 0;
    for (std::size_t i = s.size(); i-- > 0;) {
        if (s[i] == ')') ++depth;
        else if (s[i] == '(' && --depth == 0) return i;
    }
    return std::string::npos;
}

bool isTrampolineName(const std::string& name) {
    static const char* const names[] = {"__restore", "__restore_rt", "__kernel_rt_sigreturn", "__dl___restore",
                                        "__dl___restore_rt", "sigreturn", "__default_sa_restorer",
                                        "__default_rt_sa_restorer"};
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

// One frame line of the report, without its leading tab.
TextFrame parseReportFrame(const std::string& raw) {
    TextFrame f;
    f.text = trim(raw);
    std::string rest = raw;
    const auto moduleEnd = rest.find(' ');
    f.module = rest.substr(0, moduleEnd);
    rest = moduleEnd == std::string::npos ? std::string() : rest.substr(moduleEnd);
    rest = trim(rest);
    if (rest.size() >= 2 && rest[0] == '>' && rest[1] == ' ') {
        f.signalFrame = true;
        rest = trim(rest.substr(2));
    }
    static const std::regex source(R"(^(.*)\s<([^<>]*):(\d+)>$)");
    std::smatch m;
    if (std::regex_match(rest, m, source)) {
        f.file = baseName(m[2]);
        f.line = std::stoi(m[3]);
        rest = trim(m[1]);
    } else if (endsWith(rest, ">") && rest.rfind(" <") != std::string::npos) {
        rest = trim(rest.substr(0, rest.rfind(" <")));  // " <native method>"
    }
    // "......" in place of the function marks where the stack scan resumed; "......" as the
    // module names a frame whose pc lies in no module (a call through a bad pointer).
    if (f.module == "......") f.module.clear();
    if (rest == "......") {
        f.unknown = true;
        return f;
    }
    static const std::regex offset(R"(^(.*\))\s\+\s(\d+)$)");
    if (std::regex_match(rest, m, offset)) {
        f.offset = std::stoll(m[2]);
        rest = m[1];
    }
    f.function = rest;
    if (isTrampolineName(normalizeFunction(rest))) f.signalFrame = true;
    return f;
}

}  // namespace

std::string normalizeFunction(const std::string& printed) {
    std::string s = trim(printed);
    static const std::regex cloneTag(R"(\s*\[clone [^\]]*\])");
    s = std::regex_replace(s, cloneTag, "");
    for (int round = 0; round < 2; ++round) {
        s = trim(s);
        if (endsWith(s, " const")) s = trim(s.substr(0, s.size() - 6));
        const std::size_t open = openingOfLastGroup(s);
        if (open == std::string::npos || open == 0) break;
        std::string stripped = trim(s.substr(0, open));
        if (endsWith(stripped, "operator")) {  // the group was operator()'s own parentheses
            s = stripped + "()";
            break;
        }
        s = stripped;
    }
    if (endsWith(s, " const")) s = trim(s.substr(0, s.size() - 6));
    static const std::regex cloneSuffix(R"(((\.constprop|\.isra|\.part)\.\d+|\.cold(\.\d+)?)+$)");
    s = std::regex_replace(s, cloneSuffix, "");
    if (s == "??" || s.rfind("0x", 0) == 0) return {};
    // gdb spells a lambda "<lambda(int)>", the demangler "{lambda(int)#1}"; templates close with
    // "> >" or ">>".
    static const std::regex lambda(R"(\{lambda\(([^{}]*)\)#\d+\})");
    s = std::regex_replace(s, lambda, "<lambda($1)>");
    static const std::regex closing(R"(>\s+>)");
    while (std::regex_search(s, closing)) s = std::regex_replace(s, closing, ">>");
    // The last scope component, outside brackets: a call operator is compared as "operator()".
    if (endsWith(s, "operator()")) return "operator()";
    return s;
}

std::vector<TextThread> parseReportThreads(const std::string& report) {
    std::vector<TextThread> threads;
    std::vector<std::uint32_t> pendingTids;
    bool inFrames = false;
    static const std::regex tid(R"(tid: (\d+))");
    for (const auto& line : lines(report)) {
        if (inFrames) {
            if (line.rfind("\t", 0) != 0) {
                inFrames = false;
            } else if (trim(line) == "== End of frame ==") {
                inFrames = false;
                continue;
            } else {
                threads.back().frames.push_back(parseReportFrame(line.substr(1)));
                continue;
            }
        }
        std::smatch m;
        if (line.rfind("   ", 0) == 0 && std::regex_search(line, m, tid) && line.find("Native callstack") == std::string::npos) {
            pendingTids.push_back(static_cast<std::uint32_t>(std::stoul(m[1])));
        } else if (trim(line) == "Native callstack:") {
            threads.push_back(TextThread{pendingTids, {}});
            pendingTids.clear();
            inFrames = true;
        } else if (trim(line).empty()) {
            pendingTids.clear();
        }
    }
    return threads;
}

TextThread parseUnwinderOutput(const std::string& text) {
    TextThread thread;
    static const std::regex frame(R"(^\s*#\d+\s+pc\s+[0-9a-fA-F]+\s+(.*)$)");
    for (const auto& line : lines(text)) {
        std::smatch m;
        if (!std::regex_match(line, m, frame)) continue;
        TextFrame f;
        f.text = trim(line);
        std::string rest = trim(m[1]);
        // Trailing groups: "(BuildId: ...)", the function "(name+off)", "(offset 0x...)".
        std::vector<std::string> groups;
        for (std::size_t open; (open = openingOfLastGroup(rest)) != std::string::npos && open > 0;) {
            groups.insert(groups.begin(), rest.substr(open + 1, rest.size() - open - 2));
            rest = trim(rest.substr(0, open));
        }
        const std::string module = rest;
        if (module == "<unknown>") {
            f.unknown = true;
        } else {
            const auto bang = module.find('!');
            f.module = baseName(module.substr(0, bang));
            if (bang != std::string::npos) f.alternateModule = baseName(module.substr(bang + 1));
        }
        for (const auto& g : groups) {
            if (g.rfind("offset 0x", 0) == 0 || g.rfind("BuildId:", 0) == 0) continue;
            static const std::regex withOffset(R"(^(.*)\+(\d+)$)");
            std::smatch o;
            if (std::regex_match(g, o, withOffset)) {
                f.function = o[1];
                f.offset = std::stoll(o[2]);
            } else {
                f.function = g;
                f.offset = 0;
            }
        }
        if (isTrampolineName(f.function)) f.signalFrame = true;
        thread.frames.push_back(f);
    }
    return thread;
}

bool looksLikeGdbText(const std::string& text) {
    static const std::regex gdbFrame(R"((^|\n)#\d+\s+(0x[0-9a-f]+ in |<signal handler called>|[^\s]))");
    return std::regex_search(text, gdbFrame) && text.find(" pc ") == std::string::npos;
}

std::vector<TextThread> parseGdbBacktrace(const std::string& text) {
    std::vector<TextThread> threads;
    static const std::regex header(R"(^Thread \d+ \(.*LWP (\d+)\).*:\s*$)");
    static const std::regex frame(R"(^#\d+\s+(.*)$)");
    static const std::regex at(R"(^(.*) at (\S+):(\d+)$)");
    static const std::regex from(R"(^(.*) from (\S+)$)");
    const bool anyHeader = std::regex_search(text, std::regex(R"((^|\n)Thread \d+ \()"));
    bool active = !anyHeader;
    if (!anyHeader) threads.push_back({});
    for (const auto& line : lines(text)) {
        std::smatch m;
        if (std::regex_match(line, m, header)) {
            threads.push_back(TextThread{{static_cast<std::uint32_t>(std::stoul(m[1]))}, {}});
            active = true;
            continue;
        }
        if (!active || !std::regex_match(line, m, frame)) continue;
        TextFrame f;
        f.text = trim(line);
        std::string rest = trim(m[1]);
        if (rest == "<signal handler called>") {
            f.signalFrame = true;
            threads.back().frames.push_back(f);
            continue;
        }
        static const std::regex address(R"(^0x[0-9a-f]+ in (.*)$)");
        if (std::regex_match(rest, m, address)) rest = m[1];
        if (std::regex_match(rest, m, at)) {
            f.file = baseName(m[2]);
            f.line = std::stoi(m[3]);
            rest = m[1];
        } else if (std::regex_match(rest, m, from)) {
            f.module = baseName(m[2]);
            rest = m[1];
        }
        f.function = trim(rest);
        if (isTrampolineName(normalizeFunction(f.function))) f.signalFrame = true;
        threads.back().frames.push_back(f);
    }
    return threads;
}

}  // namespace fixturekit

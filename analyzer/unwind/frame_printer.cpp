#include "analyzer/unwind/frame_printer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "analyzer/driver/report_writer.h"
#include "common/text_format.h"

namespace coresift::unwind {

namespace {

constexpr const char* kUnknown = "......";

template <class... A>
std::string text(const char* format, const A&... args) {
    return common::format(format, args...).text;
}

std::string argumentValue(const FrameArgument& argument, const ValueText& valueText) {
    switch (argument.kind) {
        case ArgumentKind::Boolean: return argument.value ? "true" : "false";
        case ArgumentKind::Signed: return text("%d", static_cast<int>(static_cast<std::uint32_t>(argument.value)));
        case ArgumentKind::Unsigned: return text("%u", static_cast<unsigned>(argument.value));
        case ArgumentKind::Int64: return text("%lld", static_cast<long long>(argument.value));
        case ArgumentKind::Float:
            return text("%f", static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(argument.value))));
        case ArgumentKind::Double: return text("%f", std::bit_cast<double>(argument.value));
        case ArgumentKind::Text: return argument.text;
        default: break;
    }
    const TargetWord value = static_cast<TargetWord>(argument.value);
    return valueText ? valueText(value) : text(kAddressFormat, value);
}

// "name(arguments) + offset": the function column.
std::string functionColumn(const Frame& frame, const MessageCatalog& catalog, const ValueText& valueText) {
    std::string column = frame.function.empty() ? text(kAddressFormat, frame.address) : frame.function;
    column += '(';
    const int firstNumber = (frame.flags & frame_flag::kJavaMethod) ? 0 : 1;
    bool any = false;
    for (std::size_t i = 0; i < frame.arguments.size(); ++i) {
        const FrameArgument& argument = frame.arguments[i];
        if (argument.kind == ArgumentKind::Skipped) continue;
        if (any) column += ", ";
        any = true;
        if (!argument.name.empty()) column += argument.name + "=";
        else column += text("%s%d=", catalog.text(Msg::WordPara), firstNumber + static_cast<int>(i));
        column += argumentValue(argument, valueText);
    }
    column += frame.offset ? text(") + %d", static_cast<int>(frame.offset)) : std::string(")");
    return column;
}

std::string lineEnd(const Frame& frame, const MessageCatalog& catalog) {
    if (frame.flags & frame_flag::kNativeMethod) return text(" <%s>\n", catalog.text(Msg::WordNativeMethod));
    if (!frame.file.empty()) return text(" <%s:%d>\n", frame.file, static_cast<int>(frame.line));
    return "\n";
}

void pad(std::string& out, std::size_t width, std::size_t length) {
    if (width > length) out.append(width - length, ' ');
}

}  // namespace

std::string formatFrames(const FrameList& frames, const char* heading, const MessageCatalog& catalog,
                         const ValueText& valueText) {
    struct Line {
        std::string function, end;
    };
    std::vector<Line> lines;
    lines.reserve(frames.size());
    std::size_t moduleWidth = 0, functionWidth = 0;
    bool anySignal = false;
    for (const Frame& frame : frames) {
        moduleWidth = std::max(moduleWidth, frame.module.size());
        anySignal |= (frame.flags & frame_flag::kSignal) != 0;
        Line line;
        if (!frame.isMarker()) {
            line.function = functionColumn(frame, catalog, valueText);
            line.end = lineEnd(frame, catalog);
            functionWidth = std::max(functionWidth, line.function.size());
        }
        lines.push_back(std::move(line));
    }
    if (anySignal) ++moduleWidth;

    std::string out = heading;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame& frame = frames[i];
        out += '\t';
        out += frame.module;
        pad(out, moduleWidth, frame.module.size());
        out += (frame.flags & frame_flag::kSignal) ? "> " : "  ";
        if (frame.isMarker()) {
            out += kUnknown;
            out += '\n';
            continue;
        }
        out += lines[i].function;
        if (lines[i].end != "\n") pad(out, functionWidth, lines[i].function.size());
        out += lines[i].end;
    }
    out += catalog.text(Msg::EndOfFrame);
    return out;
}

void printFrames(ReportWriter& report, const FrameList& frames, Msg heading, const ValueText& valueText) {
    report.print("%s", formatFrames(frames, report.text(heading), report.catalog(), valueText));
}

}  // namespace coresift::unwind

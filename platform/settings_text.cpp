#include "platform/settings_text.h"

#include <cstdio>

namespace platform {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string escapeText(std::string_view text) {
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescapeText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 'x': {
                if (i + 2 >= text.size()) return std::nullopt;
                int hi = hexDigit(text[i + 1]), lo = hexDigit(text[i + 2]);
                if (hi < 0 || lo < 0) return std::nullopt;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default: return std::nullopt;
        }
    }
    return out;
}

std::optional<SettingValue> parseLine(std::string_view line) {
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0) return std::nullopt;
    std::string_view name = line.substr(0, equals);
    std::string_view rest = line.substr(equals + 1);
    std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view type = rest.substr(0, colon);
    std::string_view body = rest.substr(colon + 1);

    SettingValue value;
    value.name = std::string(name);
    if (type == "dword" || type == "qword") {
        value.type = type == "dword" ? SettingType::Word : SettingType::QuadWord;
        auto number = parseSettingNumber(body, type == "dword" ? 0xFFFFFFFFull : ~0ull);
        if (!number) return std::nullopt;
        value.number = *number;
    } else if (type == "text") {
        auto text = unescapeText(body);
        if (!text) return std::nullopt;
        value.type = SettingType::Text;
        value.text = std::move(*text);
    } else {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::uint64_t> parseSettingNumber(std::string_view text, std::uint64_t maxValue) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int digit = hexDigit(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
        if (value > (maxValue - static_cast<unsigned>(digit)) / base) return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
    }
    return value;
}

SettingsText SettingsText::parse(std::string_view text) {
    SettingsText result;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        if (auto value = parseLine(line)) result.set(std::move(*value));
    }
    return result;
}

std::string SettingsText::serialize() const {
    std::string out = "# Ferrovane settings. One value per line: Name=dword:0x..., Name=qword:N or Name=text:...\n";
    for (const auto& value : values_) {
        out += value.name;
        char buf[32];
        switch (value.type) {
            case SettingType::Word:
                std::snprintf(buf, sizeof buf, "=dword:0x%08llX", static_cast<unsigned long long>(value.number));
                out += buf;
                break;
            case SettingType::QuadWord:
                std::snprintf(buf, sizeof buf, "=qword:%llu", static_cast<unsigned long long>(value.number));
                out += buf;
                break;
            case SettingType::Text:
                out += "=text:";
                out += escapeText(value.text);
                break;
        }
        out += '\n';
    }
    return out;
}

const SettingValue* SettingsText::find(std::string_view name) const {
    for (const auto& value : values_)
        if (sameName(value.name, name)) return &value;
    return nullptr;
}

void SettingsText::set(SettingValue value) {
    for (auto& existing : values_) {
        if (sameName(existing.name, value.name)) {
            value.name = existing.name;
            existing = std::move(value);
            return;
        }
    }
    values_.push_back(std::move(value));
}

}  // namespace platform

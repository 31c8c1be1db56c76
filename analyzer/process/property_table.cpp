#include "analyzer/process/property_table.h"

#include <algorithm>
#include <memory>
#include <new>

#include "analyzer/driver/run_context.h"
#include "analyzer/process/db_text.h"

namespace coresift {

namespace {
constexpr std::size_t kLineLimit = 4095;
}  // namespace

bool PropertyTable::add(std::string_view key, std::string_view value) {
    try {
        entries_.push_back(Entry{std::string(key), std::string(value)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Entries were laid out as a length byte (key length + 1), the key and the value, and compared
// byte-wise as a whole; the same order, without a length byte that could wrap for long keys.
bool PropertyTable::before(const Entry& a, const Entry& b) {
    if (a.key.size() != b.key.size()) return a.key.size() < b.key.size();
    if (int c = a.key.compare(b.key)) return c < 0;
    return a.value.compare(b.value) < 0;
}

void PropertyTable::sort() { std::sort(entries_.begin(), entries_.end(), before); }

std::optional<std::string_view> PropertyTable::find(std::string_view key) const {
    if (key.size() > kMaxPropertyKey) return std::nullopt;
    auto at = std::lower_bound(entries_.begin(), entries_.end(), key, [](const Entry& entry, std::string_view probe) {
        if (entry.key.size() != probe.size()) return entry.key.size() < probe.size();
        return std::string_view(entry.key).compare(probe) < 0;
    });
    if (at == entries_.end() || at->key != key) return std::nullopt;
    return std::string_view(at->value);
}

int PropertyTable::forEach(const std::function<int(std::string_view, std::string_view)>& visit) const {
    for (const Entry& entry : entries_)
        if (int result = visit(entry.key, entry.value)) return result;
    return 0;
}

std::optional<PropertyLine> parsePropertyLine(std::string_view line) {
    if (line.empty() || line.front() != '[') return std::nullopt;
    std::size_t keyEnd = line.find(']', 1);
    if (keyEnd == std::string_view::npos || line.substr(keyEnd + 1, 3) != ": [") return std::nullopt;
    std::size_t valueStart = keyEnd + 4;
    std::size_t valueEnd = line.find(']', valueStart);
    if (valueEnd == std::string_view::npos) return std::nullopt;
    return PropertyLine{line.substr(1, keyEnd - 1), line.substr(valueStart, valueEnd - valueStart)};
}

void readProperties(RunContext& context, std::string_view text, PropertyTable& table) {
    LineReader lines(text, kLineLimit);
    std::string_view line;
    while (lines.next(line)) {
        auto entry = parsePropertyLine(line);
        if (!entry) continue;
        if (!table.add(entry->key, entry->value)) {
            context.console.warning(Msg::OutOfMemory);
            break;
        }
    }
    table.sort();
}

std::uint32_t initProperties(RunContext& context) {
    auto file = DbTextFile::open(kPropertiesFile);
    if (!file) return 0;
    auto table = std::unique_ptr<PropertyTable>(new (std::nothrow) PropertyTable);
    if (!table) {
        context.console.warning(Msg::OutOfMemory);
        return 0;
    }
    readProperties(context, file->text(), *table);
    context.properties = std::move(table);
    return 1;
}

void cleanupProperties(RunContext& context) { context.properties.reset(); }

std::optional<std::string> findProperty(const RunContext& context, std::string_view key) {
    if (context.properties && context.properties->size() > 0) {
        auto value = context.properties->find(key);
        if (!value) return std::nullopt;
        return std::string(*value);
    }
    return std::nullopt;
}

}  // namespace coresift

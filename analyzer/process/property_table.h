// SYS_PROPERTIES: the device's system properties as `getprop` printed them ("[key]: [value]"),
// kept as a table sorted for look-up by key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace coresift {

struct RunContext;

inline constexpr const char* kPropertiesFile = "SYS_PROPERTIES";

// Keys longer than this are never found (the device's own limit on key length).
inline constexpr std::size_t kMaxPropertyKey = 230;

class PropertyTable {
public:
    // Adds an entry; false when memory ran out. Call sort() after the last one.
    bool add(std::string_view key, std::string_view value);
    // Orders the entries: shorter keys first, then byte-wise by key, then by value.
    void sort();

    // The value of `key`; nothing when it is absent or longer than kMaxPropertyKey.
    std::optional<std::string_view> find(std::string_view key) const;

    std::size_t size() const { return entries_.size(); }
    // Visits the entries in table order; a non-zero visitor result stops the walk and is returned.
    int forEach(const std::function<int(std::string_view key, std::string_view value)>& visit) const;

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    static bool before(const Entry& a, const Entry& b);

    std::vector<Entry> entries_;
};

// The key and value of one "[key]: [value]" line; nothing for any other line.
struct PropertyLine {
    std::string_view key;
    std::string_view value;
};
std::optional<PropertyLine> parsePropertyLine(std::string_view line);

// Fills and sorts `table` from the file's text. Out of memory prints warning 19 and keeps the
// entries read so far.
void readProperties(RunContext& context, std::string_view text, PropertyTable& table);

// Phase-1 step: builds the run's property table when the file exists (non-zero then); the
// clean-up frees it.
std::uint32_t initProperties(RunContext& context);
void cleanupProperties(RunContext& context);

// The run's property look-up. A SYS_PROPERTIES file with at least one entry is the source of the
// whole run.
std::optional<std::string> findProperty(const RunContext& context, std::string_view key);

}  // namespace coresift

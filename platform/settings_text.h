// The text form of a settings store: what the POSIX settings file holds. Portable and pure, so
// that it is tested on every platform.
//
//   # comment
//   GlobalOpt=dword:0x00000130
//   CheckedTime=qword:1765098000
//   InstallDir=text:/home/user/.local/share/ferrovane
//
// Names compare without regard to case, as registry value names do. Text values escape the
// backslash, carriage return, newline and other control characters as \\, \r, \n and \xHH.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class SettingType { Word, QuadWord, Text };

struct SettingValue {
    std::string name;
    SettingType type = SettingType::Text;
    std::uint64_t number = 0;  // Word, QuadWord
    std::string text;          // Text
};

class SettingsText {
public:
    // Reads the file's text. Lines that are not understood are dropped; a later line for a name
    // replaces an earlier one.
    static SettingsText parse(std::string_view text);
    // The file's text, values in the order they were first set.
    std::string serialize() const;

    const SettingValue* find(std::string_view name) const;
    void set(SettingValue value);
    const std::vector<SettingValue>& values() const { return values_; }

private:
    std::vector<SettingValue> values_;
};

// Parses an unsigned number, decimal or with a 0x prefix hexadecimal, that must fit `maxValue`.
std::optional<std::uint64_t> parseSettingNumber(std::string_view text, std::uint64_t maxValue);

}  // namespace platform

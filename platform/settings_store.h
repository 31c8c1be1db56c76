// The suite's settings store: the per-user place where `GlobalOpt`, `InstallDir` and
// `CheckedTime` live. Windows keeps them in the registry key HKCU\Software\<scope>; elsewhere a
// small text file, $XDG_CONFIG_HOME/<scope>/settings (else ~/.config/<scope>/settings), that a
// person can read and edit, rewritten atomically on every change.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The scope the programs use; tests pass their own so that they never touch the user's values.
inline constexpr const char* kProductScope = "Ferrovane";

enum class StoreAccess {
    OpenExisting,    // fails when the store does not exist yet
    CreateIfMissing  // creates an empty store first
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Typed reads: empty when the value is missing or has another type.
    virtual std::optional<std::uint32_t> readWord(const std::string& name) const = 0;
    virtual std::optional<std::uint64_t> readQuadWord(const std::string& name) const = 0;
    virtual std::optional<std::string> readText(const std::string& name) const = 0;

    // Writes replace a value of any type. They return false when the value could not be stored.
    virtual bool writeWord(const std::string& name, std::uint32_t value) = 0;
    virtual bool writeQuadWord(const std::string& name, std::uint64_t value) = 0;
    virtual bool writeText(const std::string& name, const std::string& value) = 0;
};

// Opens the store of `scope` for reading and writing. Null when it does not exist (OpenExisting)
// or cannot be created; `*error` then says why when given.
std::unique_ptr<SettingsStore> openSettingsStore(StoreAccess access, const std::string& scope = kProductScope,
                                                 std::string* error = nullptr);

// Removes the whole store of `scope`. True when it is gone afterwards (also when it never existed).
bool removeSettingsStore(const std::string& scope);

// Where the store of `scope` lives, for messages and tests ("HKCU\Software\Ferrovane", or the
// settings file's path).
std::string settingsStoreLocation(const std::string& scope = kProductScope);

}  // namespace platform

#include "platform/settings_store.h"

#include <windows.h>

#include <vector>

namespace platform {
namespace {

// Text values longer than this are not read (the suite's values are paths).
constexpr DWORD kMaxTextBytes = 64 * 1024;

std::string keyPath(const std::string& scope) { return "Software\\" + scope; }

class RegistrySettingsStore final : public SettingsStore {
public:
    explicit RegistrySettingsStore(HKEY key) : key_(key) {}
    ~RegistrySettingsStore() override { RegCloseKey(key_); }

    std::optional<std::uint32_t> readWord(const std::string& name) const override {
        DWORD type = 0, value = 0, size = sizeof value;
        if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value)
            return std::nullopt;
        return value;
    }
    std::optional<std::uint64_t> readQuadWord(const std::string& name) const override {
        DWORD type = 0, size = 8;
        std::uint64_t value = 0;
        if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_QWORD || size != 8)
            return std::nullopt;
        return value;
    }
    std::optional<std::string> readText(const std::string& name) const override {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxTextBytes)
            return std::nullopt;
        std::vector<char> bytes(size + 1, '\0');
        if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
                ERROR_SUCCESS ||
            size >= bytes.size())
            return std::nullopt;
        bytes[size] = '\0';  // stored strings need not end with their terminator
        return std::string(bytes.data());
    }
    bool writeWord(const std::string& name, std::uint32_t value) override {
        DWORD word = value;
        return RegSetValueExA(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&word), sizeof word) ==
               ERROR_SUCCESS;
    }
    bool writeQuadWord(const std::string& name, std::uint64_t value) override {
        return RegSetValueExA(key_, name.c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), 8) ==
               ERROR_SUCCESS;
    }
    bool writeText(const std::string& name, const std::string& value) override {
        return RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }

private:
    HKEY key_;
};

}  // namespace

std::unique_ptr<SettingsStore> openSettingsStore(StoreAccess access, const std::string& scope, std::string* error) {
    HKEY key = nullptr;
    LONG rc = access == StoreAccess::CreateIfMissing
                  ? RegCreateKeyExA(HKEY_CURRENT_USER, keyPath(scope).c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                    nullptr, &key, nullptr)
                  : RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(scope).c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS) {
        if (error) *error = "registry error " + std::to_string(rc);
        return nullptr;
    }
    return std::make_unique<RegistrySettingsStore>(key);
}

bool removeSettingsStore(const std::string& scope) {
    LONG rc = RegDeleteKeyA(HKEY_CURRENT_USER, keyPath(scope).c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::string settingsStoreLocation(const std::string& scope) { return "HKCU\\" + keyPath(scope); }

}  // namespace platform

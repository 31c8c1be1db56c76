#include "platform/settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/paths.h"
#include "platform/posix/xdg_folders.h"
#include "platform/settings_text.h"

namespace platform {
namespace {

// A person may edit the file, but it is never large: anything past this is not read.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

// The folder of a scope, in lower case as POSIX configuration folders are ("ferrovane").
std::string storeFolder(const std::string& scope) {
    std::string config = userConfigFolder();
    if (config.empty()) return {};
    std::string name = scope;
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return config + "/" + name;
}

std::string storeFile(const std::string& scope) {
    std::string folder = storeFolder(scope);
    return folder.empty() ? std::string() : folder + "/settings";
}

// Creates `path` and its missing parents.
bool makeFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    text.resize(kMaxFileBytes);
    std::size_t n = std::fread(text.data(), 1, text.size(), file);
    text.resize(n);
    std::fclose(file);
    return true;
}

class FileSettingsStore final : public SettingsStore {
public:
    FileSettingsStore(std::string path, SettingsText values) : path_(std::move(path)), values_(std::move(values)) {}

    std::optional<std::uint32_t> readWord(const std::string& name) const override {
        const SettingValue* value = values_.find(name);
        if (!value || value->type != SettingType::Word) return std::nullopt;
        return static_cast<std::uint32_t>(value->number);
    }
    std::optional<std::uint64_t> readQuadWord(const std::string& name) const override {
        const SettingValue* value = values_.find(name);
        if (!value || value->type != SettingType::QuadWord) return std::nullopt;
        return value->number;
    }
    std::optional<std::string> readText(const std::string& name) const override {
        const SettingValue* value = values_.find(name);
        if (!value || value->type != SettingType::Text) return std::nullopt;
        return value->text;
    }
    bool writeWord(const std::string& name, std::uint32_t value) override {
        return store({name, SettingType::Word, value, {}});
    }
    bool writeQuadWord(const std::string& name, std::uint64_t value) override {
        return store({name, SettingType::QuadWord, value, {}});
    }
    bool writeText(const std::string& name, const std::string& value) override {
        return store({name, SettingType::Text, 0, value});
    }

private:
    // Values that other programs stored since this one opened the file are kept: the file is read
    // again just before it is rewritten.
    bool store(SettingValue value) {
        std::string text;
        if (readFile(path_, text)) values_ = SettingsText::parse(text);
        values_.set(std::move(value));
        std::string out = values_.serialize();
        return writeFileAtomically(path_, out.data(), out.size());
    }

    std::string path_;
    SettingsText values_;
};

}  // namespace

std::unique_ptr<SettingsStore> openSettingsStore(StoreAccess access, const std::string& scope, std::string* error) {
    std::string path = storeFile(scope);
    if (path.empty()) {
        if (error) *error = "no home folder";
        return nullptr;
    }
    std::string text;
    if (readFile(path, text)) return std::make_unique<FileSettingsStore>(path, SettingsText::parse(text));
    if (errno != ENOENT || access == StoreAccess::OpenExisting) {
        if (error) *error = std::strerror(errno);
        return nullptr;
    }
    std::string created = SettingsText().serialize();
    if (!makeFolders(storeFolder(scope)) || !writeFileAtomically(path, created.data(), created.size(), error)) {
        if (error && error->empty()) *error = "cannot create " + path;
        return nullptr;
    }
    return std::make_unique<FileSettingsStore>(path, SettingsText());
}

bool removeSettingsStore(const std::string& scope) {
    std::string path = storeFile(scope);
    if (path.empty()) return false;
    if (std::remove(path.c_str()) != 0 && errno != ENOENT) return false;
    ::rmdir(storeFolder(scope).c_str());  // only when nothing else lives there
    return true;
}

std::string settingsStoreLocation(const std::string& scope) { return storeFile(scope); }

}  // namespace platform

#include "tests/dispatcher/memory_store.h"

namespace testsupport {
namespace {

using platform::SettingType;
using platform::SettingValue;

class StoreView final : public platform::SettingsStore {
public:
    explicit StoreView(std::shared_ptr<MemoryStore::State> state) : state_(std::move(state)) {}

    std::optional<std::uint32_t> readWord(const std::string& name) const override {
        const SettingValue* value = state_->values.find(name);
        if (!value || value->type != SettingType::Word) return std::nullopt;
        return static_cast<std::uint32_t>(value->number);
    }
    std::optional<std::uint64_t> readQuadWord(const std::string& name) const override {
        const SettingValue* value = state_->values.find(name);
        if (!value || value->type != SettingType::QuadWord) return std::nullopt;
        return value->number;
    }
    std::optional<std::string> readText(const std::string& name) const override {
        const SettingValue* value = state_->values.find(name);
        if (!value || value->type != SettingType::Text) return std::nullopt;
        return value->text;
    }
    bool writeWord(const std::string& name, std::uint32_t value) override {
        return write({name, SettingType::Word, value, {}});
    }
    bool writeQuadWord(const std::string& name, std::uint64_t value) override {
        return write({name, SettingType::QuadWord, value, {}});
    }
    bool writeText(const std::string& name, const std::string& value) override {
        return write({name, SettingType::Text, 0, value});
    }

private:
    bool write(SettingValue value) {
        if (!state_->writable) return false;
        ++state_->writes;
        state_->values.set(std::move(value));
        return true;
    }
    std::shared_ptr<MemoryStore::State> state_;
};

}  // namespace

std::unique_ptr<platform::SettingsStore> MemoryStore::open() const {
    if (!state_->exists) return nullptr;
    return std::make_unique<StoreView>(state_);
}

std::unique_ptr<platform::SettingsStore> MemoryStore::create() const {
    if (!state_->writable) return nullptr;
    state_->exists = true;
    return std::make_unique<StoreView>(state_);
}

void MemoryStore::setWord(const std::string& name, std::uint32_t value) {
    state_->values.set({name, SettingType::Word, value, {}});
}

void MemoryStore::setText(const std::string& name, const std::string& value) {
    state_->values.set({name, SettingType::Text, 0, value});
}

}  // namespace testsupport

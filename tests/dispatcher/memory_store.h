// A settings store held in memory, shared between the stores a test's program opens.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/settings_store.h"
#include "platform/settings_text.h"

namespace testsupport {

class MemoryStore {
public:
    struct State {
        bool exists = true;
        bool writable = true;
        platform::SettingsText values;
        int writes = 0;
    };

    MemoryStore() : state_(std::make_shared<State>()) {}

    State& state() { return *state_; }
    // A store like the one the program opens: null when the store does not exist.
    std::unique_ptr<platform::SettingsStore> open() const;
    // Creates the store first, as Setting does.
    std::unique_ptr<platform::SettingsStore> create() const;

    void setWord(const std::string& name, std::uint32_t value);
    void setText(const std::string& name, const std::string& value);

private:
    std::shared_ptr<State> state_;
};

}  // namespace testsupport

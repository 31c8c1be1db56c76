// The one object that owns a Dispatcher run: the option word and folders, the message table, the
// console, and the operating-system services, which tests replace.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatcher/console.h"
#include "dispatcher/messages.h"
#include "platform/process.h"
#include "platform/settings_store.h"
#include "platform/shell_integration.h"

namespace dispatcher {

struct DispatchSettings {
    std::uint32_t word = 0;                     // the option word handed to the analyzer
    std::optional<std::string> symbolsFolder;   // -s
    std::optional<std::string> symcacheFolder;  // -c
    std::optional<std::string> extraArgument;   // -e
    std::optional<std::string> installFolder;   // cached after the first lookup
};

struct Services {
    std::function<int()> readKey;
    // The user's settings store when it exists (the Dispatcher never creates it).
    std::function<std::unique_ptr<platform::SettingsStore>()> openSettings;
    std::function<unsigned()> systemLanguageField;
    std::function<std::optional<std::string>()> clipboardText;
    std::function<void()> clearClipboard;
    // Starts a program file with an argument vector in the current folder and waits for it.
    std::function<platform::ProcessResult(const std::string&, const std::vector<std::string>&)> startAndWait;
    std::function<bool(const std::string&)> waitForProcess;
    std::function<void(const std::string&)> setConsoleTitle;
    std::string defaultInstallFolder;
    std::string ownFolder;  // the folder of the Dispatcher's program file

    // Install and uninstall: the store created or removed, the lock against a second install, the
    // folder verb, the program-menu folder and its shortcuts.
    std::function<std::unique_ptr<platform::SettingsStore>()> createSettings;
    std::function<bool()> removeSettings;
    std::function<std::unique_ptr<platform::InstallLock>()> acquireInstallLock;
    std::function<bool(const std::string& program, int extValue)> registerFolderVerb;
    std::function<void()> removeFolderVerb;
    std::function<bool(const std::string& target, const std::string& shortcut, const std::string& description)>
        createShortcut;
    std::string menuFolder;
};

// The services of the real system.
Services systemServices();

struct DispatchContext {
    DispatchContext(std::FILE* out, std::FILE* err) : console(out, err, catalog) {}
    DispatchContext(const DispatchContext&) = delete;
    DispatchContext& operator=(const DispatchContext&) = delete;

    DispatchSettings settings;
    MessageCatalog catalog;
    Console console;
    Services services;
};

}  // namespace dispatcher

#include "dispatcher/install.h"

#include <cstdio>
#include <vector>

#include "dispatcher/launch.h"
#include "dispatcher/option_word.h"
#include "platform/directory.h"
#include "platform/file_map.h"
#include "platform/paths.h"

namespace dispatcher {
namespace {

constexpr const char* kSetupScript = "setup.bat";
constexpr const char* kOldSuffix = ".old";
constexpr const char* kOldInfoFile = "Info";
constexpr const char* kOldManualShortcut = "User Manual(eng)";
constexpr const char* kManualEnglish = "https://ferrovane.dev/manual/en/";
constexpr const char* kManualChinese = "https://ferrovane.dev/manual/zh/";
// The option bit the context-menu command line passes.
constexpr int kFolderVerbBits = 4;

std::string join(const std::string& folder, const std::string& name) {
    return folder + platform::kPathSeparator + name;
}

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

std::string dispatcherFileName() { return std::string("Dispatcher") + platform::kExecutableSuffix; }

// The distribution's name of a file without the leading "z" that keeps a running program's file
// apart from the one being installed.
std::string targetName(const std::string& entry) {
    return !entry.empty() && entry[0] == 'z' ? entry.substr(1) : entry;
}

// Copies one distribution file unless the installed one is as new. An existing file is kept as
// ".old" until the new one is complete and is put back when the copy fails.
void installFile(DispatchContext& context, const std::string& source, const std::string& install,
                 const std::string& entry) {
    std::string sourcePath = join(source, entry);
    std::string target = join(install, targetName(entry));
    std::optional<std::int64_t> sourceTime = platform::fileWriteTime(sourcePath);
    bool targetExists = platform::pathExists(target);
    if (targetExists) {
        std::optional<std::int64_t> targetTime = platform::fileWriteTime(target);
        if (!targetTime || (sourceTime && *targetTime >= *sourceTime)) return;
    }
    std::string old = target + kOldSuffix;
    bool keptOld = targetExists && platform::renameFile(target, old);
    bool copied = false;
    if (!platform::isReadable(sourcePath)) {
        context.console.error(Msg::FailToOpen, sourcePath);
    } else {
        copied = platform::copyFile(sourcePath, target);
        if (copied && sourceTime) platform::setFileWriteTime(target, *sourceTime);
    }
    if (copied) {
        if (keptOld) platform::removeFile(old);
        return;
    }
    if (keptOld) platform::renameFile(old, target);
    context.console.error(Msg::FailToCopy, entry);
}

void copyDistribution(DispatchContext& context, const std::string& source, const std::string& install) {
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::listFolder(source, entries)) return;
    for (const auto& entry : entries)
        if (!entry.isFolder && entry.name != kSetupScript) installFile(context, source, install, entry.name);
}

// The install folder and the option word go into the store; a word the user already set stays.
bool recordInstall(DispatchContext& context, const std::string& install) {
    auto store = context.services.createSettings();
    if (!store) {
        context.console.error(Msg::FailToOpen, "reginfo");
        return false;
    }
    store->writeText("InstallDir", install);
    if (!store->readWord("GlobalOpt")) {
        std::uint32_t word = context.settings.word | opt::kT32Script | opt::kGdbScript;
        store->writeWord("GlobalOpt", word);
        context.settings.word = word;
    }
    return true;
}

// Files that older versions left behind.
void removeLeftovers(DispatchContext& context, const std::string& install) {
    platform::removeFile(join(install, kOldInfoFile));
    if (!context.services.menuFolder.empty())
        platform::removeFile(join(context.services.menuFolder, std::string(kOldManualShortcut) + platform::kShortcutSuffix));
}

void createShortcuts(DispatchContext& context, const std::string& install) {
    const Services& services = context.services;
    const std::string& menu = services.menuFolder;
    if (menu.empty() || !platform::createFolders(menu)) return;
    auto shortcut = [&](const char* name) { return join(menu, std::string(name) + platform::kShortcutSuffix); };
    services.createShortcut(join(install, std::string("Setting") + platform::kExecutableSuffix), shortcut("Setting"),
                            "Setting tool");
    bool english = opt::languageField(context.settings.word) == 1;
    services.createShortcut(english ? kManualEnglish : kManualChinese, shortcut("User Manual"), "User Manual");
    platform::UninstallScript script = platform::uninstallScript(install, dispatcherFileName());
    std::string scriptPath = join(install, script.fileName);
    if (platform::writeFileAtomically(scriptPath, script.text.data(), script.text.size()))
        services.createShortcut(scriptPath, shortcut("Uninstall"), "Uninstall Ferrovane");
}

}  // namespace

int runInstall(DispatchContext& context) {
    context.console.print(Msg::SetupStarted);
    std::string source = withoutTrailingSeparators(context.services.ownFolder);
    std::string install = withoutTrailingSeparators(installFolder(context));
    if (source == install) return 0;
    if (install.empty() || !platform::createFolders(install)) {
        std::fprintf(context.console.err(), "Fail to create path: %s\n", install.c_str());
        return 1;  // nothing was installed
    }
    auto lock = context.services.acquireInstallLock();
    if (!lock || !lock->owned()) {
        context.console.print(Msg::UpdateInProgress);
        if (!(context.settings.word & opt::kBatch)) context.services.readKey();
        return 0;
    }
    copyDistribution(context, source, install);
    if (recordInstall(context, install)) {
        removeLeftovers(context, install);
        if (!context.services.registerFolderVerb(join(install, dispatcherFileName()), kFolderVerbBits))
            context.console.error(Msg::FailToRegister, platform::folderVerbLocation());
        createShortcuts(context, install);
    }
    context.console.print(Msg::SetupDone);
    return 0;
}

int runUninstall(DispatchContext& context) {
    Services& services = context.services;
    context.console.print(Msg::UninstallStarted);
    removeLeftovers(context, installFolder(context));
    services.removeFolderVerb();
    services.removeSettings();
    if (!services.menuFolder.empty()) {
        std::vector<platform::DirectoryEntry> entries;
        if (platform::listFolder(services.menuFolder, entries))
            for (const auto& entry : entries)
                if (entry.isFile) platform::removeFile(join(services.menuFolder, entry.name));
        platform::removeFolder(services.menuFolder);
    }
    context.console.print(Msg::UninstallDone);
    return 0;
}

}  // namespace dispatcher

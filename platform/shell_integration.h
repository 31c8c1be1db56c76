// The suite's place on the user's desktop, written by the install and removed by the uninstall:
// the folder verb "NE/KE-Analyze" that starts the Dispatcher on a folder, the suite's program-menu
// folder with its shortcuts, the uninstall script, and the lock that keeps two installs apart.
// Windows uses the registry's folder verbs, shell links and a named mutex; elsewhere desktop entry
// files under $XDG_DATA_HOME/applications and a lock file stand in for them.
#pragma once

#include <memory>
#include <string>

namespace platform {

inline constexpr const char* kFolderVerbName = "NE/KE-Analyze";

// What shortcut files end with: ".lnk" on Windows, ".desktop" elsewhere.
#ifdef _WIN32
inline constexpr const char* kShortcutSuffix = ".lnk";
#else
inline constexpr const char* kShortcutSuffix = ".desktop";
#endif

// Where the folder verb is registered, for messages: the registry key under the classes root, or
// the desktop entry file.
std::string folderVerbLocation();

// Registers the folder verb: it starts `program` with the chosen folder, then "-ext" and
// `extValue`. False when it could not be written.
bool registerFolderVerb(const std::string& program, int extValue);

// Removes the folder verb; a missing one is passed over.
void removeFolderVerb();

// The suite's per-user program-menu folder ("Ferrovane" in the Start menu's programs; elsewhere
// $XDG_DATA_HOME/applications/ferrovane). Empty when it cannot be found.
std::string menuFolder();

// Creates the shortcut file `shortcutPath` that opens `target` (a program file, a script or a web
// address) and shows `description`. False when it could not be written.
bool createShortcut(const std::string& target, const std::string& shortcutPath, const std::string& description);

// The script that uninstalls the suite from `installFolder`: its file name and its text (it runs
// the Dispatcher `dispatcherFile` of that folder with -uninstall, then removes the folder).
struct UninstallScript {
    std::string fileName;
    std::string text;
};
UninstallScript uninstallScript(const std::string& installFolder, const std::string& dispatcherFile);

// The per-user lock named `name`, held while the object lives. `owned()` is false when it could
// not be made or another process holds it.
class InstallLock {
public:
    virtual ~InstallLock() = default;
    virtual bool owned() const = 0;
};
std::unique_ptr<InstallLock> acquireInstallLock(const std::string& name);

}  // namespace platform

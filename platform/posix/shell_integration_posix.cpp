// Desktop entry files stand in for the folder verb and the shortcuts: file managers offer an
// application entry whose MimeType is inode/directory for folders, and menus show the entries of
// the applications folder.
#include "platform/shell_integration.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/directory.h"
#include "platform/paths.h"
#include "platform/posix/xdg_folders.h"

namespace platform {
namespace {

constexpr const char* kVerbEntryName = "ferrovane-analyze.desktop";

std::string applicationsFolder() {
    std::string data = userDataFolder();
    return data.empty() ? std::string() : data + "/applications";
}

// A value of a desktop entry line: backslashes and line breaks escaped.
std::string entryValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

// One argument of an Exec line: in double quotes, with the characters the format reserves
// escaped, and '%' doubled so that it is not taken for a field code.
std::string execArgument(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

// The Exec line of a program file; a shell script is run through the shell, as it is not marked
// executable.
std::string execCommand(const std::string& target) {
    bool script = target.size() > 3 && target.compare(target.size() - 3, 3, ".sh") == 0;
    return (script ? "/bin/sh " : "") + execArgument(target);
}

bool writeText(const std::string& path, const std::string& text) {
    return writeFileAtomically(path, text.data(), text.size());
}

bool isWebAddress(const std::string& target) {
    return target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0;
}

// A name for the menu: the shortcut file's name without its folder and suffix.
std::string shortcutName(const std::string& shortcutPath) {
    std::string folder = folderOf(shortcutPath);
    std::string name = folder.empty() ? shortcutPath : shortcutPath.substr(folder.size() + 1);
    std::string suffix = kShortcutSuffix;
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.resize(name.size() - suffix.size());
    return name;
}

class LockFile final : public InstallLock {
public:
    explicit LockFile(int fd) : fd_(fd) {}
    ~LockFile() override {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool owned() const override { return fd_ >= 0; }

private:
    int fd_;
};

}  // namespace

std::string folderVerbLocation() {
    std::string folder = applicationsFolder();
    return folder.empty() ? std::string(kVerbEntryName) : folder + "/" + kVerbEntryName;
}

bool registerFolderVerb(const std::string& program, int extValue) {
    std::string folder = applicationsFolder();
    if (folder.empty() || !createFolders(folder)) return false;
    std::string text = "[Desktop Entry]\nType=Application\nName=" + std::string(kFolderVerbName) +
                       "\nExec=" + entryValue(execArgument(program)) + " %f -ext " + std::to_string(extValue) +
                       "\nMimeType=inode/directory;\nTerminal=true\nNoDisplay=true\n";
    return writeText(folderVerbLocation(), text);
}

void removeFolderVerb() { removeFile(folderVerbLocation()); }

std::string menuFolder() {
    std::string folder = applicationsFolder();
    return folder.empty() ? std::string() : folder + "/ferrovane";
}

bool createShortcut(const std::string& target, const std::string& shortcutPath, const std::string& description) {
    std::string text = "[Desktop Entry]\nName=" + entryValue(shortcutName(shortcutPath)) +
                       "\nComment=" + entryValue(description) + "\n";
    if (isWebAddress(target)) text += "Type=Link\nURL=" + entryValue(target) + "\n";
    else text += "Type=Application\nExec=" + entryValue(execCommand(target)) + "\nTerminal=true\n";
    return writeText(shortcutPath, text);
}

UninstallScript uninstallScript(const std::string& installFolder, const std::string& dispatcherFile) {
    auto quoted = [](const std::string& text) {  // a POSIX shell word in single quotes
        std::string out = "'";
        for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::string text = "#!/bin/sh\n" + quoted(installFolder + "/" + dispatcherFile) + " -uninstall\nrm -rf " +
                       quoted(installFolder) + "\n";
    return {"Uninstall.sh", text};
}

// A lock file in the user's runtime folder (else the temporary folder, named by the user id);
// the lock goes with the process, so a crashed install never blocks the next one.
std::unique_ptr<InstallLock> acquireInstallLock(const std::string& name) {
    std::string folder;
    if (auto runtime = environmentValue("XDG_RUNTIME_DIR"); runtime && !runtime->empty() && (*runtime)[0] == '/')
        folder = *runtime;
    std::string path = folder.empty() ? "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock"
                                      : folder + "/" + name + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fd = -1;
    }
    return std::make_unique<LockFile>(fd);
}

}  // namespace platform

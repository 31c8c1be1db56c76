#include "platform/paths.h"
#include "platform/posix/xdg_folders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

std::string homeFolder() {
    if (auto home = environmentValue("HOME"); home && !home->empty()) return *home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback under home.
std::string xdgFolder(const char* variable, const char* fallback) {
    if (auto value = environmentValue(variable); value && !value->empty() && (*value)[0] == '/') return *value;
    std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/" + fallback;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::string defaultInstallFolder() {
    std::string data = userDataFolder();
    return data.empty() ? std::string() : data + "/ferrovane";
}

std::string shortPathForm(const std::string& path) { return path; }

bool isReadable(const std::string& path) { return !path.empty() && ::access(path.c_str(), R_OK) == 0; }

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool writeFileAtomically(const std::string& path, const void* data, std::size_t size, std::string* error) {
    static std::atomic<unsigned> counter{0};
    std::string folder = folderOf(path);
    std::string base = folder.empty() ? path : path.substr(folder.size() + (folder == "/" ? 0 : 1));
    std::string temp = (folder.empty() ? std::string() : folder + "/") + "." + base + ".part-" +
                       std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, static_cast<const char*>(data), size) && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        if (error) *error = std::strerror(savedErrno);
    }
    return ok;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

// Shared with the settings store: the XDG configuration folder.
std::string userConfigFolder() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }
std::string userDataFolder() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }

}  // namespace platform

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/directory.h"
#include "platform/file_map.h"
#include "platform/paths.h"

namespace platform {

bool listFolder(const std::string& folder, std::vector<DirectoryEntry>& entries) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        std::string path = folder + "/" + name;
        DirectoryEntry out;
        out.name = std::move(name);
        if (::lstat(path.c_str(), &st) == 0) {
            out.isFolder = S_ISDIR(st.st_mode);
            out.isFile = S_ISREG(st.st_mode);
        }
        entries.push_back(std::move(out));
    }
    ::closedir(dir);
    return true;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool createFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool copyFile(const std::string& from, const std::string& to) {
    auto source = FileMapping::open(from);
    if (!source) return false;
    if (!writeFileAtomically(to, source->data(), static_cast<std::size_t>(source->size()))) return false;
    // Program files stay executable.
    struct stat st {};
    if (::stat(from.c_str(), &st) == 0) ::chmod(to.c_str(), st.st_mode & 07777);
    return true;
}

// Nanoseconds since 1970.
std::optional<std::int64_t> fileWriteTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool setFileWriteTime(const std::string& path, std::int64_t time) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays
    times[1].tv_sec = static_cast<time_t>(time / 1000000000);
    times[1].tv_nsec = static_cast<long>(time % 1000000000);
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool renameFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool removeFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

}  // namespace platform

#include <dirent.h>
#include <sys/stat.h>

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
    return writeFileAtomically(to, source->data(), static_cast<std::size_t>(source->size()));
}

}  // namespace platform

#include <windows.h>

#include "platform/directory.h"
#include "platform/file_map.h"
#include "platform/paths.h"

namespace platform {

bool listFolder(const std::string& folder, std::vector<DirectoryEntry>& entries) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        DirectoryEntry out;
        out.name = std::move(name);
        bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        bool folderBit = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.isFolder = folderBit && !link;
        out.isFile = !folderBit && !link;
        entries.push_back(std::move(out));
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return true;
}

bool isRegularFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool createFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/' && path[at] != '\\') continue;
        std::string part = path.substr(0, at);
        if (part.size() == 2 && part[1] == ':') continue;  // a drive
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool copyFile(const std::string& from, const std::string& to) {
    auto source = FileMapping::open(from);
    if (!source) return false;
    return writeFileAtomically(to, source->data(), static_cast<std::size_t>(source->size()));
}

// 100-nanosecond steps since 1601 (FILETIME).
std::optional<std::int64_t> fileWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                     data.ftLastWriteTime.dwLowDateTime);
}

bool setFileWriteTime(const std::string& path, std::int64_t time) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(time));
    written.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(time) >> 32);
    BOOL ok = SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    return ok != 0;
}

bool renameFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFolder(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

}  // namespace platform

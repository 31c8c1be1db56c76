// Folder listing, folder creation and file copies, for the symbol-file search, the copy from the
// external symbols folder and the install.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct DirectoryEntry {
    std::string name;
    // A real folder. Links to folders (symbolic links, junctions) are not followed: they count
    // as neither folder nor file, so a walk over the tree cannot loop.
    bool isFolder = false;
    bool isFile = false;
};

// The entries of `folder` without "." and "..", in the order the system gives them. False when
// the folder cannot be read.
bool listFolder(const std::string& folder, std::vector<DirectoryEntry>& entries);

// True when `path` names a regular file.
bool isRegularFile(const std::string& path);

// Creates `path` and the folders above it that are missing. True when the folder exists after.
bool createFolders(const std::string& path);

// Copies the file `from` to `to` (replacing it). On failure nothing is left at `to`.
bool copyFile(const std::string& from, const std::string& to);

// The last-write time of a file in the system's own units (only compared with each other), or
// empty when it cannot be read.
std::optional<std::int64_t> fileWriteTime(const std::string& path);
bool setFileWriteTime(const std::string& path, std::int64_t time);

// Renames `from` to `to`, replacing a file at `to`. True when it was renamed.
bool renameFile(const std::string& from, const std::string& to);

// Removes an empty folder. True when it was removed.
bool removeFolder(const std::string& path);

}  // namespace platform

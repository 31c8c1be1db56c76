// Folder listing, folder creation and file copies, for the symbol-file search and the copy from
// the external symbols folder.
#pragma once

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

}  // namespace platform

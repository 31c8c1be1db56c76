// Per-user folders, program file names and small file services of the Dispatcher and Setting.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// What the name of a program file ends with: ".exe" on Windows, nothing elsewhere.
// The separator of folder names in a path: "\\" on Windows, "/" elsewhere.
#ifdef _WIN32
inline constexpr const char* kExecutableSuffix = ".exe";
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr const char* kExecutableSuffix = "";
inline constexpr char kPathSeparator = '/';
#endif

// Where the suite is installed when the settings store names no folder: the application-data
// folder followed by "\Ferrovane" on Windows; $XDG_DATA_HOME/ferrovane (else
// ~/.local/share/ferrovane) elsewhere. Empty when no home folder is known.
std::string defaultInstallFolder();

// The short (8.3) form of an existing Windows path; elsewhere, and when there is none, `path`.
std::string shortPathForm(const std::string& path);

// True when the file or folder at `path` can be read by this user.
bool isReadable(const std::string& path);

// The folder part of a path (up to the last separator), or empty when there is none.
std::string folderOf(const std::string& path);

// The value of an environment variable; empty when unset.
std::optional<std::string> environmentValue(const char* name);

// Writes `size` bytes as the file `path` so that readers see either the old file or the whole new
// one: the bytes go to a temporary file in the same folder that then replaces `path`. On failure
// nothing is left behind and `*error` says why when given.
bool writeFileAtomically(const std::string& path, const void* data, std::size_t size, std::string* error = nullptr);

// Deletes a file. True when it was deleted.
bool removeFile(const std::string& path);

}  // namespace platform

#include "platform/paths.h"

#include <io.h>
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdlib>

namespace platform {

std::optional<std::string> environmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::string defaultInstallFolder() {
    char folder[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return {};
    return std::string(folder) + "\\Ferrovane";
}

std::string shortPathForm(const std::string& path) {
    DWORD needed = GetShortPathNameA(path.c_str(), nullptr, 0);
    if (needed == 0) return path;
    std::string shortPath(needed, '\0');
    DWORD n = GetShortPathNameA(path.c_str(), shortPath.data(), needed);
    if (n == 0 || n >= needed) return path;
    shortPath.resize(n);
    return shortPath;
}

bool isReadable(const std::string& path) { return !path.empty() && _access(path.c_str(), 4) == 0; }

std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return {};
    return path.substr(0, slash);
}

bool writeFileAtomically(const std::string& path, const void* data, std::size_t size, std::string* error) {
    static std::atomic<unsigned> counter{0};
    std::string folder = folderOf(path);
    std::string base = folder.empty() ? path : path.substr(folder.size() + 1);
    std::string temp = (folder.empty() ? std::string() : folder + "\\") + "." + base + ".part-" +
                       std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = "cannot create (" + std::to_string(GetLastError()) + ")";
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    bool ok = true;
    while (ok && size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        ok = WriteFile(file, bytes, chunk, &written, nullptr) && written == chunk;
        bytes += chunk;
        size -= chunk;
    }
    ok = FlushFileBuffers(file) && ok;
    CloseHandle(file);
    if (ok) ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        if (error) *error = "cannot write (" + std::to_string(GetLastError()) + ")";
        DeleteFileA(temp.c_str());
    }
    return ok;
}

bool removeFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

}  // namespace platform

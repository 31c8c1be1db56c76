// The folder verb under HKCU\Software\Classes\Directory\shell, shell links made through COM in
// the Start menu's programs folder, Uninstall.bat, and a named mutex.
#include "platform/shell_integration.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/paths.h"

namespace platform {
namespace {

const std::string kVerbKey = std::string("Software\\Classes\\Directory\\shell\\") + kFolderVerbName;

class NamedMutex final : public InstallLock {
public:
    explicit NamedMutex(HANDLE handle) : handle_(handle) {}
    ~NamedMutex() override {
        if (handle_) CloseHandle(handle_);
    }
    bool owned() const override { return handle_ != nullptr; }

private:
    HANDLE handle_;
};

// COM for the time of one call.
class ComScope {
public:
    ComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (ok_) CoUninitialize();
    }
    bool ok() const { return ok_; }

private:
    bool ok_;
};

}  // namespace

std::string folderVerbLocation() { return kVerbKey + "\\command"; }

bool registerFolderVerb(const std::string& program, int extValue) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, folderVerbLocation().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    std::string command = "\"" + program + "\" \"%l\" -ext " + std::to_string(extValue);
    LONG rc = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void removeFolderVerb() {
    RegDeleteKeyA(HKEY_CURRENT_USER, folderVerbLocation().c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, kVerbKey.c_str());
}

std::string menuFolder() {
    char folder[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return {};
    return std::string(folder) + "\\Ferrovane";
}

bool createShortcut(const std::string& target, const std::string& shortcutPath, const std::string& description) {
    ComScope com;
    if (!com.ok()) return false;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    bool ok = SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetDescription(description.c_str()));
    IPersistFile* file = nullptr;
    if (ok && SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        int wide = MultiByteToWideChar(CP_ACP, 0, shortcutPath.c_str(), -1, nullptr, 0);
        std::wstring path(static_cast<std::size_t>(wide > 0 ? wide : 1), L'\0');
        MultiByteToWideChar(CP_ACP, 0, shortcutPath.c_str(), -1, path.data(), wide);
        ok = SUCCEEDED(file->Save(path.c_str(), TRUE));
        file->Release();
    } else {
        ok = false;
    }
    link->Release();
    return ok;
}

UninstallScript uninstallScript(const std::string& installFolder, const std::string& dispatcherFile) {
    std::string text = "@echo off\n\"" + installFolder + "\\" + dispatcherFile + "\" -uninstall\npause\nrd /s /q \"" +
                       installFolder + "\"";
    return {"Uninstall.bat", text};
}

std::unique_ptr<InstallLock> acquireInstallLock(const std::string& name) {
    HANDLE handle = CreateMutexA(nullptr, FALSE, name.c_str());
    if (handle && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        handle = nullptr;
    }
    return std::make_unique<NamedMutex>(handle);
}

}  // namespace platform

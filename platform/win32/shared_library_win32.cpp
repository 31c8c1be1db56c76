#include "platform/shared_library.h"

#include <windows.h>

namespace platform {
namespace {

class WindowsLibrary final : public SharedLibrary {
public:
    explicit WindowsLibrary(HMODULE module) : module_(module) {}
    ~WindowsLibrary() override { FreeLibrary(module_); }
    void* symbol(const char* name) const override {
        return reinterpret_cast<void*>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::load(const std::string& path, std::string* error) {
    // A bare name would be searched for along the DLL search path: only full paths load.
    if (path.find_first_of("/\\") == std::string::npos) {
        if (error) *error = "not a path";
        return nullptr;
    }
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        if (error) *error = "cannot be loaded (" + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    return std::make_unique<WindowsLibrary>(module);
}

std::string sharedLibraryFileName(const std::string& name) { return name + ".dll"; }

}  // namespace platform

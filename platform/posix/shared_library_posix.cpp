#include "platform/shared_library.h"

#include <dlfcn.h>

namespace platform {
namespace {

class PosixLibrary final : public SharedLibrary {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { ::dlclose(handle_); }
    void* symbol(const char* name) const override { return ::dlsym(handle_, name); }

private:
    void* handle_;
};

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::load(const std::string& path, std::string* error) {
    // A path without a slash would be searched for on the library path: only full paths load.
    if (path.find('/') == std::string::npos) {
        if (error) *error = "not a path";
        return nullptr;
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) {
            const char* why = ::dlerror();
            *error = why ? why : "cannot be loaded";
        }
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle);
}

std::string sharedLibraryFileName(const std::string& name) { return "lib" + name + ".so"; }

}  // namespace platform

// Loading an outside shared library by its full path and looking up one of its exports.
#pragma once

#include <memory>
#include <string>

namespace platform {

class SharedLibrary {
public:
    // Loads the library at `path` (never searched for elsewhere). Null when it cannot be loaded.
    static std::unique_ptr<SharedLibrary> load(const std::string& path, std::string* error = nullptr);
    // Unloads the library: pointers obtained from it become invalid.
    virtual ~SharedLibrary() = default;

    // The address of the export `name`, or null.
    virtual void* symbol(const char* name) const = 0;

    // The export as a function pointer of type F, or null.
    template <class F>
    F function(const char* name) const {
        return reinterpret_cast<F>(symbol(name));
    }
};

// The file name of a shared library called `name`: "Name.dll" on Windows, "libName.so" elsewhere.
std::string sharedLibraryFileName(const std::string& name);

}  // namespace platform

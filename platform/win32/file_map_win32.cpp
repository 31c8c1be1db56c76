#include "platform/file_map.h"

#include <windows.h>

namespace platform {
namespace {

class Win32Mapping final : public FileMapping {
public:
    Win32Mapping(HANDLE mapping, const void* base, std::uint64_t size) : mapping_(mapping), base_(base), size_(size) {}
    ~Win32Mapping() override {
        if (base_) UnmapViewOfFile(base_);
        if (mapping_) CloseHandle(mapping_);
    }
    std::uint64_t size() const override { return size_; }
    const std::uint8_t* data() const override { return static_cast<const std::uint8_t*>(base_); }

private:
    HANDLE mapping_;
    const void* base_;
    std::uint64_t size_;
};

}  // namespace

std::uint64_t allocationGranularity() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwAllocationGranularity;
}

std::unique_ptr<FileMapping> FileMapping::open(const std::string& path, std::string* error) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = "cannot open";
        return nullptr;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        if (error) *error = "cannot size";
        return nullptr;
    }
    if (size.QuadPart == 0) {
        CloseHandle(file);
        return std::make_unique<Win32Mapping>(nullptr, nullptr, 0);
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);  // the mapping handle keeps the file open
    if (!mapping) {
        if (error) *error = "cannot map";
        return nullptr;
    }
    const void* base = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!base) {
        CloseHandle(mapping);
        if (error) *error = "cannot map view";
        return nullptr;
    }
    return std::make_unique<Win32Mapping>(mapping, base, static_cast<std::uint64_t>(size.QuadPart));
}

bool pathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace platform

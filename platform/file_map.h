// Read-only file mappings. The analyzer never copies a dump or symbol file: it reads through
// views of a mapping. On a 64-bit host the whole file is mapped once and views are spans into it;
// `mapView` still exists for callers that want a view at an aligned offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The granularity that view offsets must be aligned to (Windows: dwAllocationGranularity).
std::uint64_t allocationGranularity();

class FileMapping {
public:
    // Opens `path` for reading and maps it. Returns null when the file cannot be opened or mapped;
    // `*error` then says why (never required). An empty file maps to size 0 and data() null.
    static std::unique_ptr<FileMapping> open(const std::string& path, std::string* error = nullptr);

    virtual ~FileMapping() = default;
    virtual std::uint64_t size() const = 0;
    // The whole file's bytes, or null for an empty file.
    virtual const std::uint8_t* data() const = 0;
};

// True when a file or folder exists at `path`.
bool pathExists(const std::string& path);

}  // namespace platform

#include "platform/file_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

class PosixMapping final : public FileMapping {
public:
    PosixMapping(void* base, std::uint64_t size) : base_(base), size_(size) {}
    ~PosixMapping() override {
        if (base_) munmap(base_, static_cast<std::size_t>(size_));
    }
    std::uint64_t size() const override { return size_; }
    const std::uint8_t* data() const override { return static_cast<const std::uint8_t*>(base_); }

private:
    void* base_;
    std::uint64_t size_;
};

}  // namespace

std::uint64_t allocationGranularity() {
    long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::uint64_t>(page) : 4096;
}

std::unique_ptr<FileMapping> FileMapping::open(const std::string& path, std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = "not a regular file";
        ::close(fd);
        return nullptr;
    }
    auto size = static_cast<std::uint64_t>(st.st_size);
    void* base = nullptr;
    if (size > 0) {
        base = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (base == MAP_FAILED) {
            if (error) *error = std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
    }
    ::close(fd);  // the mapping stays valid without the descriptor
    return std::make_unique<PosixMapping>(base, size);
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace platform

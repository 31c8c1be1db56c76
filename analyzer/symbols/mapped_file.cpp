// MappedFile: one read-only mapping of a whole file, shared by the images made from it.
#include "analyzer/driver/console.h"
#include "analyzer/symbols/elf_image.h"
#include "platform/file_map.h"

namespace coresift {
namespace {

// Bytes already in memory, presented as a file mapping.
class BufferMapping final : public platform::FileMapping {
public:
    explicit BufferMapping(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    const std::uint8_t* data() const override { return bytes_.empty() ? nullptr : bytes_.data(); }

private:
    std::vector<std::uint8_t> bytes_;
};

std::string baseName(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

MappedFile::MappedFile(std::string path, std::unique_ptr<platform::FileMapping> mapping)
    : path_(std::move(path)), mapping_(std::move(mapping)) {
    if (mapping_) bytes_ = common::ByteView(mapping_->data(), static_cast<std::size_t>(mapping_->size()));
}

MappedFile::~MappedFile() = default;

std::shared_ptr<const MappedFile> MappedFile::open(const std::string& path) {
    auto mapping = platform::FileMapping::open(path);
    if (!mapping) return nullptr;
    return std::make_shared<const MappedFile>(path, std::move(mapping));
}

std::shared_ptr<const MappedFile> MappedFile::openAnnounced(Console& console, const std::string& path) {
    auto file = open(path);
    if (file) console.print(Msg::Loading, baseName(path));
    return file;
}

std::shared_ptr<const MappedFile> MappedFile::fromBuffer(std::string path, std::vector<std::uint8_t> bytes) {
    return std::make_shared<const MappedFile>(std::move(path), std::make_unique<BufferMapping>(std::move(bytes)));
}

}  // namespace coresift

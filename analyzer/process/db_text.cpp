#include "analyzer/process/db_text.h"

#include <cstring>

#include "platform/file_map.h"

namespace coresift {

DbTextFile::DbTextFile(std::unique_ptr<platform::FileMapping> mapping) : mapping_(std::move(mapping)) {
    if (mapping_->data())
        text_ = std::string_view(reinterpret_cast<const char*>(mapping_->data()), static_cast<std::size_t>(mapping_->size()));
}

DbTextFile::DbTextFile(DbTextFile&&) noexcept = default;
DbTextFile& DbTextFile::operator=(DbTextFile&&) noexcept = default;
DbTextFile::~DbTextFile() = default;

std::optional<DbTextFile> DbTextFile::open(const std::string& name) {
    auto mapping = platform::FileMapping::open(name);
    if (!mapping) return std::nullopt;
    return DbTextFile(std::move(mapping));
}

bool LineReader::next(std::string_view& line) {
    if (rest_.empty()) return false;
    std::size_t newline = rest_.find('\n');
    if (newline == std::string_view::npos) {
        line = rest_;
        rest_ = {};
    } else {
        line = rest_.substr(0, newline);
        rest_.remove_prefix(newline + 1);
    }
    if (const void* nul = std::memchr(line.data(), '\0', line.size()))
        line = line.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > limit_) line = line.substr(0, limit_);
    return true;
}

std::string_view nextField(std::string_view& rest, char delimiter) {
    std::size_t start = rest.find_first_not_of(delimiter);
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    std::size_t end = rest.find(delimiter);
    std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return field;
}

}  // namespace coresift

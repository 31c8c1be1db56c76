// Reading the exception db's text files: whole lines from a read-only mapping, and the field
// rule the readers share.
//
// The files are untrusted: any bytes, any line length, with or without a final newline. A line is
// always read whole and only then cut to the length its reader allows, so an over-long line never
// spills into the next one. Text after a NUL byte is not part of its line (the readers treat
// lines as C strings), and a carriage return before the newline is dropped (files copied through
// Windows tools).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class FileMapping;
}

namespace coresift {

// The contents of one db file, kept mapped while it is read.
class DbTextFile {
public:
    // Maps the file `name` in the working folder; nothing when it cannot be opened (missing
    // files are not errors, so nothing is printed).
    static std::optional<DbTextFile> open(const std::string& name);

    DbTextFile(DbTextFile&&) noexcept;
    DbTextFile& operator=(DbTextFile&&) noexcept;
    ~DbTextFile();

    std::string_view text() const { return text_; }

private:
    explicit DbTextFile(std::unique_ptr<platform::FileMapping> mapping);

    std::unique_ptr<platform::FileMapping> mapping_;
    std::string_view text_;
};

// Walks the lines of a text. Each line comes without its newline, cut at its first NUL and then
// to at most `limit` characters.
class LineReader {
public:
    LineReader(std::string_view text, std::size_t limit) : rest_(text), limit_(limit) {}

    // The next line; false at the end of the text.
    bool next(std::string_view& line);

private:
    std::string_view rest_;
    std::size_t limit_;
};

// The next-field rule for a delimiter: skip any run of the delimiter at the current position; the
// field runs to the next delimiter, which is consumed; at the end of the text the field is the
// rest, and once nothing is left the field is empty.
std::string_view nextField(std::string_view& rest, char delimiter);

}  // namespace coresift

// Reading fixture files for the decoder tools, gunzipping ".gz" files.
#include <cstdio>

#include <zlib.h>

#include "tools/decode/elf_sections.h"

namespace decodetools {

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0) {
        gzFile f = gzopen(path.c_str(), "rb");
        if (!f) return bytes;
        std::uint8_t buffer[65536];
        int n;
        while ((n = gzread(f, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        gzclose(f);
        return bytes;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    std::uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

}  // namespace decodetools

// A stand-in for the outside library Tessiv in the Dispatcher's tests. Its export answers from
// the file tessiv-answer.txt of the current folder: the first line is the folder it reports (with
// 0); "!fill" fills the whole buffer without a terminator; no file means it knows none (1).
#include <cstdio>
#include <cstring>

extern "C" int Tessiv(char* buffer, int capacity) {
    std::FILE* in = std::fopen("tessiv-answer.txt", "rb");
    if (!in || capacity <= 0) {
        if (in) std::fclose(in);
        return 1;
    }
    char line[1024] = {};
    std::size_t n = std::fread(line, 1, sizeof line - 1, in);
    std::fclose(in);
    line[n] = '\0';
    line[std::strcspn(line, "\r\n")] = '\0';
    if (std::strcmp(line, "!fill") == 0) {
        std::memset(buffer, 'x', static_cast<std::size_t>(capacity));
        return 0;
    }
    std::snprintf(buffer, static_cast<std::size_t>(capacity), "%s", line);
    return 0;
}

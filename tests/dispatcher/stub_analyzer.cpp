// A stand-in for an analyzer in the Dispatcher's tests: records the arguments it was given and
// the folder it was started in (stub-run.txt in that folder), prints one line, and ends with a
// status the Dispatcher must not look at.
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

void writeField(std::FILE* out, const char* kind, const std::string& value) {
    std::fprintf(out, "%s %zu:", kind, value.size());
    std::fwrite(value.data(), 1, value.size(), out);
    std::fputc('\n', out);
}

}  // namespace

int main(int argc, char** argv) {
    std::FILE* out = std::fopen("stub-run.txt", "wb");
    if (!out) return 2;
    writeField(out, "folder", std::filesystem::current_path().string());
    for (int i = 0; i < argc; ++i) writeField(out, "arg", argv[i]);
    std::fclose(out);
    std::printf("stub analyzer %s ran\n", argc > 0 ? argv[0] : "?");
    return 7;
}

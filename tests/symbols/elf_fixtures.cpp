#include "tests/symbols/elf_fixtures.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>

#include "tests/support/temp_folder.h"
#include "tests/symbols/readelf_oracle.h"

namespace testsupport {
namespace fs = std::filesystem;
namespace {

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file()) out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

// Unpacks a .gz, .bz2 or .xz file into the scratch folder (once); other files are used in place.
// Nothing when the file is packed and there is no unpacker.
fs::path unpacked(const fs::path& file, const std::string& prefix) {
    static const std::map<std::string, std::string> kTools = {{".gz", "gzip"}, {".bz2", "bzip2"}, {".xz", "xz"}};
    auto tool = kTools.find(file.extension().string());
    if (tool == kTools.end()) return file;
    // The unpackers are the host's programs, present where binutils is (not under wine).
    if (readelfProgram().empty()) return {};
    fs::path target = scratchFolder() / (prefix + "-" + file.stem().string());
    if (!fs::exists(target))
        runCommandInto(tool->second + " -dc " + shellQuote(file.string()), target.string());
    return target;
}

void addSet(std::vector<FixtureFile>& out, coresift::ElfClass elfClass, const std::string& set,
            const std::vector<fs::path>& files, const std::string& prefix) {
    for (const fs::path& file : files) {
        fs::path path = unpacked(file, prefix + "-" + file.parent_path().filename().string());
        if (!path.empty() && isElfOf(path, elfClass)) out.push_back({set, file.parent_path().filename().string() + "/" + file.filename().string(), path});
    }
}

}  // namespace

fs::path sharedFixtures() {
    fs::path path = fs::path(FERROVANE_SHARED_DIR) / "fixtures";
    return fs::exists(path) ? path : fs::path();
}

fs::path ownElfFixtures() {
    fs::path path = fs::path(FERROVANE_TEST_DATA_DIR) / "elf";
    return fs::exists(path / "stamp") ? path : fs::path();
}

const fs::path& scratchFolder() {
    static TempFolder folder;
    return folder.path();
}

bool isElfOf(const fs::path& path, coresift::ElfClass elfClass) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[20] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
    unsigned machine = head[18] | (head[19] << 8);
    bool wide = elfClass == coresift::ElfClass::Elf64;
    return head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F' &&
           head[4] == static_cast<unsigned char>(elfClass) && head[5] == 1 && machine == (wide ? 183u : 40u);
}

const std::vector<FixtureFile>& wellFormedElfFiles(coresift::ElfClass elfClass) {
    static std::map<coresift::ElfClass, std::vector<FixtureFile>> cache;
    auto found = cache.find(elfClass);
    if (found != cache.end()) return found->second;
    std::vector<FixtureFile>& out = cache[elfClass];
    if (fs::path shared = sharedFixtures(); !shared.empty()) {
        std::vector<fs::path> cases;
        for (const auto& entry : fs::directory_iterator(shared / "unwindstack-offline/cases"))
            for (const fs::path& f : filesIn(entry.path())) cases.push_back(f);
        std::sort(cases.begin(), cases.end());
        addSet(out, elfClass, "unwindstack-offline cases", cases, "case");
        fs::path elfFiles = shared / "unwindstack-offline/elf-files";
        std::vector<fs::path> files = filesIn(elfFiles / "libs");
        for (const char* name : {"boot_arm.oat", "elf32.xz", "elf64.xz"}) files.push_back(elfFiles / name);
        addSet(out, elfClass, "unwindstack-offline elf-files", files, "elf-files");
        addSet(out, elfClass, "simpleperf-testdata", filesIn(shared / "simpleperf-testdata/simpleperf/testdata"), "simpleperf");
        addSet(out, elfClass, "elfutils", filesIn(shared / "elfutils/tests"), "elfutils");
        std::vector<fs::path> bionic;
        for (const char* arch : {"arm", "arm64"})
            bionic.push_back(shared / "bionic-prebuilt-elf/tests/prebuilt-elf-files" / arch / "libtest_empty.so");
        addSet(out, elfClass, "bionic-prebuilt-elf", bionic, "bionic");
    }
    if (fs::path own = ownElfFixtures(); !own.empty())
        for (const char* arch : {"arm", "arm64"}) addSet(out, elfClass, "own cross-compiled", filesIn(own / arch), "own");
    return out;
}

std::vector<FixtureFile> malformedElfFiles(coresift::ElfClass elfClass) {
    std::vector<FixtureFile> out;
    fs::path shared = sharedFixtures();
    if (shared.empty()) return out;
    for (const char* arch : {"arm", "arm64"}) {
        std::vector<fs::path> files;
        for (const fs::path& f : filesIn(shared / "bionic-prebuilt-elf/tests/prebuilt-elf-files" / arch))
            if (f.filename() != "libtest_empty.so") files.push_back(f);
        addSet(out, elfClass, "bionic-prebuilt-elf", files, "bionic");
    }
    return out;
}

}  // namespace testsupport

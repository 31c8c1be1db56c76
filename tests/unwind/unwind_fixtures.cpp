#include "tests/unwind/unwind_fixtures.h"

#include <algorithm>

namespace testsupport {

std::vector<FixtureFile> unwindFixtureFiles(bool arm) {
    namespace fs = std::filesystem;
    std::vector<FixtureFile> out;
    const fs::path root = fs::path(FERROVANE_TEST_DATA_DIR) / "unwind";
    const fs::path folder = root / (arm ? "arm" : "arm64");
    std::error_code ec;
    if (!fs::exists(root / "stamp", ec)) return out;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file()) out.push_back({"own unwind fixtures", "own/" + entry.path().filename().string(), entry.path()});
    std::sort(out.begin(), out.end(), [](const FixtureFile& a, const FixtureFile& b) { return a.path < b.path; });
    return out;
}

}  // namespace testsupport

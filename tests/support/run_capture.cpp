#include "tests/support/run_capture.h"

#include "analyzer/driver/driver.h"
#include "platform/console.h"

namespace testsupport {
namespace {

std::string contents(std::FILE* file) {
    std::fflush(file);
    long end = std::ftell(file);
    std::string text(end > 0 ? static_cast<std::size_t>(end) : 0, '\0');
    std::rewind(file);
    std::size_t n = std::fread(text.data(), 1, text.size(), file);
    text.resize(n);
    std::fseek(file, 0, SEEK_END);
    return text;
}

}  // namespace

RunCapture::RunCapture() : outFile_(std::tmpfile()), errFile_(std::tmpfile()), context_(outFile_, errFile_) {
    context_.readKey = [this] {
        ++keyReads_;
        return platform::kKeyNone;
    };
    context_.openWithDesktop = [this](const std::string& path) { opened_.push_back(path); };
}

RunCapture::~RunCapture() {
    std::fclose(outFile_);
    std::fclose(errFile_);
}

int RunCapture::run(const std::vector<std::string>& args) {
    std::vector<std::string> full{"CoreSift"};
    full.insert(full.end(), args.begin(), args.end());
    return coresift::runProgram(context_, full);
}

std::string RunCapture::out() const { return contents(outFile_); }
std::string RunCapture::err() const { return contents(errFile_); }

}  // namespace testsupport

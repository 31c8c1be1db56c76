#include "tests/support/run_capture.h"

#include <stdexcept>

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

// A temporary file for one captured stream. Under wine, tmpfile() fails now and then ("permission
// denied") while another test program creates temporary files at the same moment; it succeeds
// when tried again.
std::FILE* captureFile() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (std::FILE* file = std::tmpfile()) return file;
    }
    throw std::runtime_error("cannot create a temporary file to capture the analyzer's output");
}

}  // namespace

RunCapture::RunCapture() : outFile_(captureFile()), errFile_(captureFile()), context_(outFile_, errFile_) {
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

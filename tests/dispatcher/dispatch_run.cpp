#include "tests/dispatcher/dispatch_run.h"

#include <fstream>
#include <sstream>

#include "dispatcher/run.h"
#include "platform/process.h"

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

DispatchRun::DispatchRun() : outFile_(std::tmpfile()), errFile_(std::tmpfile()), context_(outFile_, errFile_) {}

DispatchRun::~DispatchRun() {
    std::fclose(outFile_);
    std::fclose(errFile_);
}

int DispatchRun::run(const std::vector<std::string>& args) {
    dispatcher::Services& services = context_.services;
    services.readKey = [this] {
        ++keyReads_;
        return -1;
    };
    services.openSettings = [this] { return store_.open(); };
    services.systemLanguageField = [this] { return systemLanguage; };
    services.clipboardText = [this] { return clipboard; };
    services.clearClipboard = [this] {
        clipboardCleared_ = true;
        clipboard.reset();
    };
    services.startAndWait = [this](const std::string& program, const std::vector<std::string>& argv) {
        started_.push_back({program, argv, platform::currentDirectory()});
        if (startFails) return platform::ProcessResult{};
        if (startForReal) return platform::runProgramAndWait(program, argv);
        return platform::ProcessResult{true, 0, {}};
    };
    services.waitForProcess = [this](const std::string& reference) {
        awaited_.push_back(reference);
        return true;
    };
    services.setConsoleTitle = [this](const std::string& title) { titles_.push_back(title); };
    services.defaultInstallFolder = installFolder;
    services.ownFolder = ownFolder;
    services.menuFolder = menuFolder;
    services.createSettings = [this] { return store_.create(); };
    services.removeSettings = [this] {
        store_.state().exists = false;
        store_.state().values = {};
        return true;
    };
    services.acquireInstallLock = [this] {
        struct Lock final : platform::InstallLock {
            explicit Lock(bool owned) : owned_(owned) {}
            bool owned() const override { return owned_; }
            bool owned_;
        };
        return std::make_unique<Lock>(!installLockHeld);
    };
    services.registerFolderVerb = [this](const std::string& program, int extValue) {
        if (folderVerbFails) return false;
        folderVerb_ = std::make_pair(program, extValue);
        return true;
    };
    services.removeFolderVerb = [this] { folderVerb_.reset(); };
    services.createShortcut = [this](const std::string& target, const std::string& path, const std::string& description) {
        shortcuts_.push_back({target, path, description});
        std::ofstream(path) << target;  // a file in the menu folder, as the real one leaves
        return true;
    };

    std::vector<std::string> full = {"Dispatcher"};
    full.insert(full.end(), args.begin(), args.end());
    return dispatcher::runDispatcher(context_, full);
}

std::string DispatchRun::out() const { return contents(outFile_); }
std::string DispatchRun::err() const { return contents(errFile_); }

// The record holds "folder <length>:<bytes>" and then "arg <length>:<bytes>" lines, so that
// arguments with newlines or any other characters come back exactly.
std::optional<StubRecord> readStubRecord(const std::string& folder) {
    std::ifstream in(folder + "/" + kStubRecordName, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();
    StubRecord record;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t space = text.find(' ', at);
        std::size_t colon = text.find(':', space);
        if (space == std::string::npos || colon == std::string::npos) return std::nullopt;
        std::string kind = text.substr(at, space - at);
        std::size_t length = std::stoul(text.substr(space + 1, colon - space - 1));
        std::string value = text.substr(colon + 1, length);
        at = colon + 1 + length + 1;  // and the newline
        if (kind == "folder") record.folder = value;
        else record.argv.push_back(value);
    }
    return record;
}

}  // namespace testsupport

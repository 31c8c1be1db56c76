// Runs the Dispatcher in-process with captured output and recorded services: the settings store
// in memory, the clipboard, the system language, and the programs it starts (recorded, and
// started for real when a test asks).
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dispatcher/context.h"
#include "tests/dispatcher/memory_store.h"

namespace testsupport {

struct StartedProgram {
    std::string programFile;
    std::vector<std::string> argv;
    std::string folder;  // the working folder at the start
};

struct Shortcut {
    std::string target;
    std::string path;
    std::string description;
};

class DispatchRun {
public:
    DispatchRun();
    ~DispatchRun();
    DispatchRun(const DispatchRun&) = delete;
    DispatchRun& operator=(const DispatchRun&) = delete;

    dispatcher::DispatchContext& context() { return context_; }
    MemoryStore& store() { return store_; }

    // Services a test sets before run().
    unsigned systemLanguage = 1;
    std::optional<std::string> clipboard;
    bool startForReal = false;   // start the program files through the platform
    bool startFails = false;     // every start fails
    std::string installFolder;   // the default install folder
    std::string ownFolder;       // the Dispatcher's own folder
    std::string menuFolder;      // the program-menu folder of the install
    bool installLockHeld = false;  // another install holds the lock
    bool folderVerbFails = false;

    // Runs the whole program with these arguments ("Dispatcher" is put in front).
    int run(const std::vector<std::string>& args);

    std::string out() const;
    std::string err() const;
    int keyReads() const { return keyReads_; }
    bool clipboardCleared() const { return clipboardCleared_; }
    const std::vector<StartedProgram>& started() const { return started_; }
    const std::vector<std::string>& titles() const { return titles_; }
    const std::vector<std::string>& awaited() const { return awaited_; }
    // The folder verb's program and -ext value, when one was registered (and not removed again).
    const std::optional<std::pair<std::string, int>>& folderVerb() const { return folderVerb_; }
    const std::vector<Shortcut>& shortcuts() const { return shortcuts_; }

private:
    std::FILE* outFile_;
    std::FILE* errFile_;
    dispatcher::DispatchContext context_;
    MemoryStore store_;
    int keyReads_ = 0;
    bool clipboardCleared_ = false;
    std::vector<StartedProgram> started_;
    std::vector<std::string> titles_;
    std::vector<std::string> awaited_;
    std::optional<std::pair<std::string, int>> folderVerb_;
    std::vector<Shortcut> shortcuts_;
};

// What a stub analyzer recorded about its start: its arguments and working folder.
struct StubRecord {
    std::vector<std::string> argv;
    std::string folder;
};

// Reads the record a stub analyzer wrote into `folder`; empty when there is none.
std::optional<StubRecord> readStubRecord(const std::string& folder);

// The name of that record file.
inline constexpr const char* kStubRecordName = "stub-run.txt";

}  // namespace testsupport

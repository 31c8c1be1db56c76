// Runs the analyzer in-process with its standard output and error captured.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "analyzer/driver/run_context.h"

namespace testsupport {

class RunCapture {
public:
    RunCapture();
    ~RunCapture();
    RunCapture(const RunCapture&) = delete;
    RunCapture& operator=(const RunCapture&) = delete;

    coresift::RunContext& context() { return context_; }
    // Runs the whole program with these arguments (the program name is added in front).
    int run(const std::vector<std::string>& args);

    std::string out() const;
    std::string err() const;
    int keyReads() const { return keyReads_; }
    const std::vector<std::string>& openedFiles() const { return opened_; }

private:
    std::FILE* outFile_;
    std::FILE* errFile_;
    coresift::RunContext context_;
    int keyReads_ = 0;
    std::vector<std::string> opened_;
};

}  // namespace testsupport

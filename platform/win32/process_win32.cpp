#include "platform/process.h"

#include <direct.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace platform {

bool changeDirectory(const std::string& path) { return !path.empty() && _chdir(path.c_str()) == 0; }

std::string currentDirectory() {
    char buf[MAX_PATH * 4];
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

void openWithDesktop(const std::string& path) {
    ShellExecuteA(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

namespace {

ProcessResult create(const char* program, const std::vector<std::string>& argv, const std::string& workingFolder) {
    ProcessResult result;
    if (argv.empty()) {
        result.error = "no program";
        return result;
    }
    std::string commandLine;
    for (const auto& a : argv) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += quoteWindowsArgument(a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info)) {
        result.error = "CreateProcess failed (" + std::to_string(GetLastError()) + ")";
        return result;
    }
    result.started = true;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return result;
}

}  // namespace

ProcessResult runAndWait(const std::vector<std::string>& argv, const std::string& workingFolder) {
    return create(argv.empty() ? nullptr : argv[0].c_str(), argv, workingFolder);
}

ProcessResult runProgramAndWait(const std::string& program, const std::vector<std::string>& argv,
                                const std::string& workingFolder) {
    if (program.empty()) {
        ProcessResult result;
        result.error = "no program";
        return result;
    }
    return create(program.c_str(), argv, workingFolder);
}

bool waitForProcess(const std::string& reference) {
    void* pointer = nullptr;
    char extra = 0;
    if (std::sscanf(reference.c_str(), "%p%c", &pointer, &extra) != 1 || !pointer) return false;
    HANDLE process = static_cast<HANDLE>(pointer);
    bool waited = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(process);
    return waited;
}

std::string findOnPath(const std::string& name) {
    char buf[MAX_PATH * 4];
    DWORD n = SearchPathA(nullptr, name.c_str(), nullptr, sizeof buf, buf, nullptr);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string executablePath() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

}  // namespace platform

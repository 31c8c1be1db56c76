#include "platform/process.h"

#include <direct.h>
#include <windows.h>
#include <shellapi.h>

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

// Quotes one argument by the rules the C runtime uses to split a command line, so that spaces,
// quotes and backslashes arrive unchanged.
std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') out.append(backslashes * 2 + 1, '\\');
        else out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

}  // namespace

ProcessResult runAndWait(const std::vector<std::string>& argv, const std::string& workingFolder) {
    ProcessResult result;
    if (argv.empty()) {
        result.error = "no program";
        return result;
    }
    std::string commandLine;
    for (const auto& a : argv) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += quoteArgument(a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(argv[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
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

std::string executablePath() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

}  // namespace platform

#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace platform {

bool changeDirectory(const std::string& path) { return !path.empty() && ::chdir(path.c_str()) == 0; }

std::string currentDirectory() {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

namespace {

// Finds `name` on PATH; empty when absent.
std::string findOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::string dirs = path;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Spawns `argv`; the child changes into `folder` first when one is given.
pid_t spawn(const std::vector<std::string>& argv, const std::string& folder, std::string& error) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
#endif
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = std::strerror(rc);
        return -1;
    }
    return pid;
}

}  // namespace

void openWithDesktop(const std::string& path) {
    std::string opener = findOnPath("xdg-open");
    if (opener.empty() || !std::getenv("DISPLAY")) return;
    std::string error;
    spawn({opener, path}, {}, error);  // not waited for: the desktop program lives on
}

ProcessResult runAndWait(const std::vector<std::string>& argv, const std::string& workingFolder) {
    ProcessResult result;
    if (argv.empty()) {
        result.error = "no program";
        return result;
    }
    pid_t pid = spawn(argv, workingFolder, result.error);
    if (pid < 0) return result;
    result.started = true;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return result;
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string executablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = 0;
    return buf;
}

}  // namespace platform

#include "platform/process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path || name.empty()) return {};
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

namespace {

// Spawns `program` (searched on PATH when `search`) with `argv`; the child changes into `folder`
// first when one is given.
pid_t spawn(const std::string& program, bool search, const std::vector<std::string>& argv, const std::string& folder,
            std::string& error) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
#endif
    pid_t pid = -1;
    int rc = search ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, args.data(), environ)
                    : posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = std::strerror(rc);
        return -1;
    }
    return pid;
}

ProcessResult spawnAndWait(const std::string& program, bool search, const std::vector<std::string>& argv,
                           const std::string& folder) {
    ProcessResult result;
    if (argv.empty() || program.empty()) {
        result.error = "no program";
        return result;
    }
    pid_t pid = spawn(program, search, argv, folder, result.error);
    if (pid < 0) return result;
    result.started = true;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return result;
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace

void openWithDesktop(const std::string& path) {
    std::string opener = findOnPath("xdg-open");
    if (opener.empty() || !std::getenv("DISPLAY")) return;
    std::string error;
    spawn(opener, false, {opener, path}, {}, error);  // not waited for: the desktop program lives on
}

ProcessResult runAndWait(const std::vector<std::string>& argv, const std::string& workingFolder) {
    return spawnAndWait(argv.empty() ? std::string() : argv[0], true, argv, workingFolder);
}

ProcessResult runProgramAndWait(const std::string& program, const std::vector<std::string>& argv,
                                const std::string& workingFolder) {
    struct stat st {};
    if (::stat(program.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        ProcessResult result;
        result.error = "is a folder";
        return result;
    }
    return spawnAndWait(program, false, argv, workingFolder);
}

bool waitForProcess(const std::string& reference) {
    if (reference.empty() || reference.size() > 10) return false;
    long long value = 0;
    for (char c : reference) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value <= 0 || value > INT_MAX) return false;
    auto pid = static_cast<pid_t>(value);
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
#ifdef SYS_pidfd_open
    // A process descriptor becomes readable when the process ends; no polling needed.
    int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        pollfd entry{fd, POLLIN, 0};
        while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
        }
        ::close(fd);
        return true;
    }
#endif
    // Not a child of ours and no process descriptors: look again every tenth of a second.
    while (::kill(pid, 0) == 0 || errno == EPERM) ::usleep(100000);
    return true;
}

std::string executablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = 0;
    return buf;
}

}  // namespace platform

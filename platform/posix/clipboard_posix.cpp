#include "platform/clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

constexpr int kPasteTimeoutMs = 2000;

// The command that prints the clipboard's text, or that empties it, for the running desktop.
std::vector<std::string> clipboardCommand(bool clear) {
    if (std::getenv("WAYLAND_DISPLAY")) {
        std::string tool = findOnPath(clear ? "wl-copy" : "wl-paste");
        if (!tool.empty()) return clear ? std::vector<std::string>{tool, "--clear"}
                                        : std::vector<std::string>{tool, "--no-newline", "--type", "text"};
    }
    if (std::getenv("DISPLAY")) {
        std::string tool = findOnPath("xclip");
        if (!tool.empty()) return clear ? std::vector<std::string>{tool, "-selection", "clipboard", "-i", "/dev/null"}
                                        : std::vector<std::string>{tool, "-selection", "clipboard", "-o"};
    }
    return {};
}

// Starts `argv` with standard input from /dev/null, standard error discarded and standard output
// into a pipe (`*readEnd`) or discarded (readEnd null).
pid_t start(const std::vector<std::string>& argv, int* readEnd) {
    int fds[2] = {-1, -1};
    if (readEnd && ::pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (readEnd) posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (readEnd) {
        ::close(fds[1]);
        if (rc != 0) ::close(fds[0]);
        else *readEnd = fds[0];
    }
    return rc == 0 ? pid : -1;
}

void reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::optional<std::string> clipboardText(std::size_t maxBytes) {
    std::vector<std::string> command = clipboardCommand(false);
    if (command.empty()) return std::nullopt;
    int fd = -1;
    pid_t pid = start(command, &fd);
    if (pid < 0) return std::nullopt;
    std::string text;
    bool complete = false;
    char buf[1024];
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, kPasteTimeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;  // the clipboard's owner does not answer
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            complete = n == 0;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() >= maxBytes) {
            text.resize(maxBytes);
            complete = true;
            break;
        }
    }
    ::close(fd);
    ::kill(pid, SIGTERM);  // harmless when it has ended already
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    bool succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!complete || (!succeeded && text.empty())) return std::nullopt;
    return text;
}

void clearClipboard() {
    std::vector<std::string> command = clipboardCommand(true);
    if (command.empty()) return;
    pid_t pid = start(command, nullptr);
    // xclip hands the (now empty) selection to a background copy of itself and returns.
    if (pid >= 0) reap(pid);
}

}  // namespace platform

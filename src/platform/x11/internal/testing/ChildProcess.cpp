#include "platform/x11/internal/testing/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

extern char** environ;

namespace x11::testing {

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  const Options& options, std::string* why) {
    // The given entries replace the inherited ones of the same name.
    std::vector<std::string> envStrings = options.env, args = argv;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
        if (std::none_of(options.env.begin(), options.env.end(),
                         [&](auto& o) { return o.starts_with(name); }))
            envStrings.push_back(entry);
    }
    std::vector<char*> envp, argp;
    for (auto& s : envStrings) envp.push_back(s.data());
    for (auto& s : args) argp.push_back(s.data());
    envp.push_back(nullptr);
    argp.push_back(nullptr);

    int outPipe[2] = {-1, -1};
    if (options.captureStdout && pipe2(outPipe, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    auto redirect = [&](int from, int to, int flags) {
        if (from >= 0)
            posix_spawn_file_actions_adddup2(&actions, from, to);
        else
            posix_spawn_file_actions_addopen(&actions, to, "/dev/null", flags, 0);
    };
    redirect(options.stdinFd, 0, O_RDONLY);
    redirect(outPipe[1], 1, O_WRONLY);
    redirect(options.stderrFd, 2, O_WRONLY);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A process group of its own, so a terminal's children can be ended with it.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argp[0], &actions, &attr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (options.captureStdout) close(outPipe[1]);
    if (rc != 0) {
        if (why) *why = argv[0] + ": " + std::strerror(rc);
        if (options.captureStdout) close(outPipe[0]);
        return nullptr;
    }
    auto child = std::unique_ptr<ChildProcess>(new ChildProcess());
    child->pid_ = pid;
    child->stdout_ = options.captureStdout ? outPipe[0] : -1;
    return child;
}

ChildProcess::~ChildProcess() {
    terminate();
    if (stdout_ >= 0) close(stdout_);
}

bool ChildProcess::isRunning() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r != pid_) return true;
    status_ = status;
    pid_ = -1;
    return false;
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (!waitUntil([this] { return !isRunning(); }, timeout)) return -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void ChildProcess::terminate() {
    if (!isRunning()) return;
    pid_t pid = pid_;
    // The child leads its own process group: end what it started with it (a shell's pipeline, a terminal's
    // shell).
    kill(-pid, SIGTERM);
    if (waitExit(std::chrono::milliseconds(1000)) < 0) {
        kill(-pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        pid_ = -1;
    }
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string ChildProcess::readOutput(const std::function<void()>& meanwhile) {
    std::string output;
    char buffer[65536];
    waitUntil(
        [&] {
            if (meanwhile) meanwhile();
            pollfd pfd{stdout_, POLLIN, 0};
            if (poll(&pfd, 1, meanwhile ? 0 : 5) <= 0) return false;
            const ssize_t n = read(stdout_, buffer, sizeof buffer);
            if (n > 0) output.append(buffer, static_cast<size_t>(n));
            return n <= 0;
        },
        std::chrono::seconds(10));
    return output;
}

std::string runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       int* status) {
    ChildProcess::Options options;
    options.env = env;
    options.captureStdout = true;
    auto child = ChildProcess::start(argv, options);
    const std::string output = child ? child->readOutput() : "";
    const int rc = child ? child->waitExit(std::chrono::seconds(5)) : -1;
    if (status) *status = rc;
    return output;
}

std::optional<std::string> LineReader::next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        // Even with no time left, look once at what has already arrived.
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
            if (left.count() <= 0) return std::nullopt;
            continue;
        }
        char chunk[4096];
        ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

std::optional<std::string> LineReader::until(const std::function<bool(const std::string&)>& match,
                                             std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto line = next(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (!line || match(*line)) return line;
    }
}

}  // namespace x11::testing

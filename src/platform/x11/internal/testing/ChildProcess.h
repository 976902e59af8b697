#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace x11::testing {

// A process started for a test (an X server, an X client); ended by its PID when destroyed: SIGTERM, then
// SIGKILL if it has not gone within a second. Standard output and error go to /dev/null unless captured.
class ChildProcess {
  public:
    struct Options {
        std::vector<std::string> env;  // "NAME=value" entries added to the environment
        bool captureStdout = false;    // readable through `stdoutFd`
        int stdinFd = -1;              // the child's standard input (else /dev/null)
        int stderrFd = -1;             // the child's standard error (else /dev/null)
    };

    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv, const Options& options,
                                               std::string* why = nullptr);
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    int stdoutFd() const { return stdout_; }
    // The captured standard output up to its end (at most 10 s); `meanwhile` runs between reads.
    std::string readOutput(const std::function<void()>& meanwhile = {});
    bool isRunning();
    // Waits for the process to exit by itself; its exit status, or -1 on timeout (the process is left alone).
    int waitExit(std::chrono::milliseconds timeout);
    void terminate();

  private:
    ChildProcess() = default;
    pid_t pid_ = -1;
    int stdout_ = -1;
    int status_ = -1;
};

// Polls `condition` every few milliseconds until it holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Runs a command to completion (bounded) and returns its standard output (empty on failure); `status` gets
// its exit status.
std::string runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       int* status = nullptr);

// Reads a child's standard output line by line with a bounded wait.
class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line (without its newline); nothing when none arrives within `timeout`.
    std::optional<std::string> next(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Skips lines until one satisfies `match`; that line, or nothing on timeout.
    std::optional<std::string> until(const std::function<bool(const std::string&)>& match,
                                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  private:
    int fd_;
    std::string buffer_;
};

}  // namespace x11::testing

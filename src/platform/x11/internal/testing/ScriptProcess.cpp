#include "platform/x11/internal/testing/ScriptProcess.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace x11::testing {

std::unique_ptr<ScriptProcess> ScriptProcess::start(const std::string& script,
                                                    const std::vector<std::string>& args,
                                                    ChildProcess::Options options, std::string* why,
                                                    const std::string& interpreter) {
    auto process = std::unique_ptr<ScriptProcess>(new ScriptProcess());
    char path[] = "/tmp/tandrel-script-XXXXXX";
    int fd = mkstemp(path);
    int input[2] = {-1, -1};
    if (fd < 0 || pipe2(input, O_CLOEXEC) != 0) {
        if (why) *why = "cannot create the script file or its input pipe";
        if (fd >= 0) close(fd);
        return nullptr;
    }
    close(fd);
    process->scriptPath_ = path;
    std::ofstream(path) << script;
    process->stdin_ = input[1];
    options.captureStdout = true;
    options.stdinFd = input[0];
    std::vector<std::string> argv = {interpreter, path};
    argv.insert(argv.end(), args.begin(), args.end());
    process->process_ = ChildProcess::start(argv, options, why);
    close(input[0]);
    if (!process->process_) return nullptr;
    process->reader_ = std::make_unique<LineReader>(process->process_->stdoutFd());
    return process;
}

ScriptProcess::~ScriptProcess() {
    if (stdin_ >= 0) close(stdin_);
    process_.reset();
    if (!scriptPath_.empty()) std::remove(scriptPath_.c_str());
}

bool ScriptProcess::send(const std::string& line) {
    const std::string framed = line + "\n";
    return write(stdin_, framed.data(), framed.size()) == static_cast<ssize_t>(framed.size());
}

std::optional<std::string> ScriptProcess::command(const std::string& line) {
    if (!send(line)) return std::nullopt;
    return reader_->next(std::chrono::seconds(5));
}

}  // namespace x11::testing

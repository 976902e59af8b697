#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/internal/testing/ChildProcess.h"

namespace x11::testing {

// A script of a test (by default Python of the system interpreter, whose GObject bindings the GTK windows
// need) driven line by line: lines written to its standard input, lines read from its standard output. The
// script lives in a temporary file for as long as the process. Test thread only.
class ScriptProcess {
  public:
    // Null when the script cannot be written or the interpreter cannot be started (`why` says so).
    static std::unique_ptr<ScriptProcess> start(const std::string& script,
                                                const std::vector<std::string>& args,
                                                ChildProcess::Options options, std::string* why = nullptr,
                                                const std::string& interpreter = "/usr/bin/python3");
    ~ScriptProcess();
    ScriptProcess(const ScriptProcess&) = delete;
    ScriptProcess& operator=(const ScriptProcess&) = delete;

    pid_t pid() const { return process_->pid(); }
    LineReader& output() { return *reader_; }
    // Writes `line` and a line break; false when the script no longer reads.
    bool send(const std::string& line);
    // Sends one command and returns the next line, or nothing within 5 s.
    std::optional<std::string> command(const std::string& line);

  private:
    ScriptProcess() = default;
    std::string scriptPath_;
    int stdin_ = -1;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<LineReader> reader_;
};

}  // namespace x11::testing

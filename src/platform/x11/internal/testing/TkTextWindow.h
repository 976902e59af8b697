#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/x11/internal/testing/ChildProcess.h"

namespace x11::testing {

// A real Tk text window (wish) at a fixed place, with the keyboard focus, that does not export its selection
// as PRIMARY. It reports on standard output "key <keysym> <state>" for each key press and "text <content>"
// (line breaks as '|') after each change of its text, so tests see what the application received.
class TkTextWindow {
  public:
    // With `copyDelayMs`, the copy chords copy that long after the key press (a busy application).
    static std::unique_ptr<TkTextWindow> start(const std::string& displayEnv, const std::string& text, int x,
                                               int y, bool selectFirstWord, std::string* why = nullptr,
                                               int copyDelayMs = 0);
    ~TkTextWindow();
    pid_t pid() const { return process_->pid(); }
    LineReader& output() { return *reader_; }

  private:
    TkTextWindow() = default;
    std::string scriptPath_;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<LineReader> reader_;
};

}  // namespace x11::testing

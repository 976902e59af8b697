#pragma once

#include <memory>
#include <string>

#include "platform/x11/internal/testing/ScriptProcess.h"

namespace x11::testing {

// A real Tk text window (wish, titled "tandrel-tk") at a fixed place, with the keyboard focus, that does not
// export its selection as PRIMARY. It reports on standard output "key <keysym> <state>" for each key press
// and "text <content>" (line breaks as '|') after each change of its text, so tests see what the application
// received.
class TkTextWindow {
  public:
    // With `copyDelayMs`, the copy chords copy that long after the key press (a busy application).
    static std::unique_ptr<TkTextWindow> start(const std::string& displayEnv, const std::string& text, int x,
                                               int y, bool selectFirstWord, std::string* why = nullptr,
                                               int copyDelayMs = 0);
    pid_t pid() const { return script_->pid(); }
    LineReader& output() { return script_->output(); }

  private:
    TkTextWindow() = default;
    std::unique_ptr<ScriptProcess> script_;
};

}  // namespace x11::testing

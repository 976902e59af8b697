#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/internal/testing/ScriptProcess.h"

namespace x11::testing {

// A real GTK 3 window (Python GObject bindings of the system interpreter) at a fixed place with the keyboard
// focus: a text view holding `text` that does not export its selection as PRIMARY (so only the accessibility
// bus or a copy can read it), and below it a password entry (hidden characters) holding "hunter2 secret".
// Run it with a GtkAccessibilitySession's client environment so that it is on the accessibility bus.
//
// Commands go to its standard input and are acknowledged before `command` returns:
//   "select A B"  focus the text view and select characters A to B;
//   "password"    focus the password entry and select all of it;
//   "query"       answered by "selected <text>" (the text view's selection, line breaks as '|');
//   "keys"        answered by "keys <n>", the key presses the window has received;
//   "focus"       answered by "focus <view|password|none> <active|inactive>".
class GtkTextWindow {
  public:
    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;  // in root coordinates
    };

    static std::unique_ptr<GtkTextWindow> start(const std::vector<std::string>& env, const std::string& text,
                                                int x, int y, std::string* why = nullptr);
    GtkTextWindow(const GtkTextWindow&) = delete;
    GtkTextWindow& operator=(const GtkTextWindow&) = delete;

    pid_t pid() const { return script_->pid(); }
    const Geometry& textView() const { return view_; }
    const Geometry& passwordEntry() const { return password_; }
    // Sends one command; its answer line ("ok <command>", or the "selected" line for "query"), or nothing.
    std::optional<std::string> command(const std::string& line);
    // The text view's current selection as the application reports it.
    std::optional<std::string> selection();
    // The key presses the window has received so far; -1 when it does not answer.
    int keyPresses();

  private:
    GtkTextWindow() = default;
    std::unique_ptr<ScriptProcess> script_;
    Geometry view_;
    Geometry password_;
};

}  // namespace x11::testing

#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/internal/testing/ScriptProcess.h"

namespace wayland::testing {

// A real GTK 3 window on a Wayland compositor (Python GObject bindings of the system interpreter) holding one
// text view with `text` that has the keyboard focus. Its selection is exported as PRIMARY, as GTK does.
//
// Commands go to its standard input and are answered before `command` returns:
//   "select A B"  select characters A to B;
//   "unexported"  stop exporting the selection as PRIMARY (as some toolkits never do);
//   "text"        answered by "text <the whole text, line breaks as '|'>";
//   "clicks"      answered by "clicks <n>", the button presses the view has received.
// The window fills the compositor's one output (full-screen on KWin, which places windows instead of tiling
// them; maximized elsewhere, below GNOME's panel and title bar); the text starts at its top-left corner.
class GtkWaylandView {
  public:
    // Accessibility is off unless `env` sets NO_AT_BRIDGE. Null when the window does not come up with the
    // focus within 15 s (`why` says so).
    static std::unique_ptr<GtkWaylandView> start(const std::vector<std::string>& env, const std::string& text,
                                                 std::string* why = nullptr);
    GtkWaylandView(const GtkWaylandView&) = delete;
    GtkWaylandView& operator=(const GtkWaylandView&) = delete;

    std::optional<std::string> command(const std::string& line);
    // The view's whole text as the application reports it.
    std::optional<std::string> text();
    // The button presses the view has received; -1 when it does not answer.
    int clicks();

  private:
    GtkWaylandView() = default;
    std::unique_ptr<x11::testing::ScriptProcess> script_;
};

}  // namespace wayland::testing

#include "platform/wayland/internal/testing/GtkWaylandView.h"

#include <algorithm>
#include <cstdlib>

namespace wayland::testing {

namespace {

constexpr const char* kScript = R"PY(import os
import sys
import gi
gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk

win = Gtk.Window(title="tandrel-gtk-wayland")
view = Gtk.TextView()
buf = view.get_buffer()
buf.set_text(sys.stdin.readline().rstrip("\n").replace("|", "\n"))
scroll = Gtk.ScrolledWindow()
scroll.add(view)
win.add(scroll)
win.connect("destroy", Gtk.main_quit)
clicks = [0]

def pressed(widget, event):
    clicks[0] += 1
    return False

view.connect("button-press-event", pressed)

def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()

def command(source, condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    words = line.split()
    if words[:1] == ["select"]:
        buf.select_range(buf.get_iter_at_offset(int(words[1])), buf.get_iter_at_offset(int(words[2])))
        say("ok " + line.strip())
    elif words[:1] == ["unexported"]:
        buf.remove_selection_clipboard(Gtk.Clipboard.get(Gdk.SELECTION_PRIMARY))
        say("ok unexported")
    elif words[:1] == ["clicks"]:
        say("clicks %d" % clicks[0])
    elif words[:1] == ["text"]:
        say("text " + buf.get_text(buf.get_start_iter(), buf.get_end_iter(), True).replace("\n", "|"))
    return True

# Ready once focused, and full-screen where the compositor places windows instead of tiling them (KWin):
# there a maximized window would still have the compositor's title bar above the text.
fullscreen = os.environ.get("TANDREL_TEST_FULLSCREEN") == "1"
shown = set()

def arrived(what):
    if what and what not in shown:
        shown.add(what)
        if shown == ({"focus", "fullscreen"} if fullscreen else {"focus"}):
            buf.place_cursor(buf.get_start_iter())
            say("ready")
    return False

view.connect("focus-in-event", lambda widget, event: arrived("focus"))
full = Gdk.WindowState.FULLSCREEN
win.connect("window-state-event", lambda widget, event: arrived(event.new_window_state & full and "fullscreen"))
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
if fullscreen:
    win.fullscreen()
else:
    win.maximize()
win.show_all()
view.grab_focus()
Gtk.main()
)PY";

}  // namespace

std::unique_ptr<GtkWaylandView> GtkWaylandView::start(const std::vector<std::string>& env,
                                                      const std::string& text, std::string* why) {
    auto view = std::unique_ptr<GtkWaylandView>(new GtkWaylandView());
    x11::testing::ChildProcess::Options options;
    options.env = env;
    // No accessibility bus for this window unless the caller gives one: GTK would wait for one at start-up.
    if (std::none_of(env.begin(), env.end(),
                     [](const std::string& e) { return e.starts_with("NO_AT_BRIDGE="); }))
        options.env.push_back("NO_AT_BRIDGE=1");
    view->script_ = x11::testing::ScriptProcess::start(kScript, {}, options, why);
    if (!view->script_) return nullptr;
    // The text goes first, on one line.
    std::string first = text;
    for (char& c : first)
        if (c == '\n') c = '|';
    if (!view->script_->send(first)) return nullptr;
    if (!view->script_->output().until([](const std::string& l) { return l == "ready"; },
                                       std::chrono::seconds(15))) {
        if (why) *why = "the GTK window did not come up with the focus";
        return nullptr;
    }
    return view;
}

std::optional<std::string> GtkWaylandView::command(const std::string& line) {
    return script_->command(line);
}

int GtkWaylandView::clicks() {
    auto answer = command("clicks");
    if (!answer || answer->rfind("clicks ", 0) != 0) return -1;
    return std::atoi(answer->c_str() + 7);
}

std::optional<std::string> GtkWaylandView::text() {
    auto answer = command("text");
    if (!answer || answer->rfind("text ", 0) != 0) return std::nullopt;
    return answer->substr(5);
}

}  // namespace wayland::testing

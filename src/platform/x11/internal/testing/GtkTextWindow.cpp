#include "platform/x11/internal/testing/GtkTextWindow.h"

#include <cstdlib>
#include <sstream>

namespace x11::testing {

namespace {

constexpr const char* kScript = R"PY(import sys
import gi
gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk

text, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
win = Gtk.Window(title="tandrel-gtk")
win.move(x, y)
win.set_default_size(420, 160)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
view = Gtk.TextView()
view.set_size_request(400, 100)
buf = view.get_buffer()
buf.set_text(text)
password = Gtk.Entry()
password.set_visibility(False)
password.set_text("hunter2 secret")
box.pack_start(view, True, True, 0)
box.pack_start(password, False, False, 0)
win.add(box)
win.connect("destroy", Gtk.main_quit)
keys = [0]
win.connect("key-press-event", lambda widget, event: keys.__setitem__(0, keys[0] + 1))

def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()

def selected():
    bounds = buf.get_selection_bounds()
    return buf.get_text(bounds[0], bounds[1], True).replace("\n", "|") if bounds else ""

def command(source, condition):
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    words = line.split() or [""]
    if words[0] == "select":
        view.grab_focus()
        buf.select_range(buf.get_iter_at_offset(int(words[1])), buf.get_iter_at_offset(int(words[2])))
    elif words[0] == "password":
        password.grab_focus()
        password.select_region(0, -1)
    focus = win.get_focus()
    focus = "view" if focus is view else "password" if focus is password else "none"
    answers = {"query": "selected " + selected(), "keys": "keys %d" % keys[0],
               "focus": "focus %s %s" % (focus, "active" if win.is_active() else "inactive")}
    say(answers.get(words[0], "ok " + line.strip()))
    return True

def ready():
    # Without a window manager, present() gives the window the X input focus itself.
    win.present_with_time(Gdk.CURRENT_TIME)
    view.grab_focus()
    buf.place_cursor(buf.get_start_iter())
    origin = view.get_window(Gtk.TextWindowType.WIDGET).get_origin()
    alloc = view.get_allocation()
    # The entry draws into its parent's window: its place is the toplevel's origin plus its allocation.
    top = win.get_window().get_origin()
    entry = password.get_allocation()
    say("ready %d %d %d %d %d %d %d %d" % (origin[1], origin[2], alloc.width, alloc.height,
                                           top[1] + entry.x, top[2] + entry.y, entry.width, entry.height))
    return False

def mapped(widget, event):
    # The view exports no PRIMARY selection: reading it takes the accessibility bus (or a copy).
    buf.remove_selection_clipboard(view.get_clipboard(Gdk.SELECTION_PRIMARY))
    GLib.timeout_add(200, ready)
    return False

win.connect("map-event", mapped)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
win.show_all()
Gtk.main()
)PY";

}  // namespace

std::unique_ptr<GtkTextWindow> GtkTextWindow::start(const std::vector<std::string>& env,
                                                    const std::string& text, int x, int y, std::string* why) {
    auto window = std::unique_ptr<GtkTextWindow>(new GtkTextWindow());
    ChildProcess::Options options;
    options.env = env;
    window->script_ =
        ScriptProcess::start(kScript, {text, std::to_string(x), std::to_string(y)}, options, why);
    if (!window->script_) return nullptr;
    auto ready = window->script_->output().until(
        [](const std::string& l) { return l.rfind("ready ", 0) == 0; }, std::chrono::seconds(15));
    if (!ready) {
        if (why) *why = "the GTK window did not come up";
        return nullptr;
    }
    std::istringstream fields(ready->substr(6));
    auto& v = window->view_;
    fields >> v.x >> v.y >> v.width >> v.height;
    auto& p = window->password_;
    fields >> p.x >> p.y >> p.width >> p.height;
    return window;
}

std::optional<std::string> GtkTextWindow::command(const std::string& line) {
    // Every line after "ready" answers one command, in order.
    return script_->command(line);
}

std::optional<std::string> GtkTextWindow::selection() {
    auto answer = command("query");
    if (!answer || answer->rfind("selected ", 0) != 0) return std::nullopt;
    return answer->substr(9);
}

int GtkTextWindow::keyPresses() {
    auto answer = command("keys");
    if (!answer || answer->rfind("keys ", 0) != 0) return -1;
    return std::atoi(answer->c_str() + 5);
}

}  // namespace x11::testing

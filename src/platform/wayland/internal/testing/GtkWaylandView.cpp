#include "platform/wayland/internal/testing/GtkWaylandView.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace wayland::testing {

namespace {

constexpr const char* kScript = R"PY(import sys
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk

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
    elif words[:1] == ["clicks"]:
        say("clicks %d" % clicks[0])
    elif words[:1] == ["text"]:
        say("text " + buf.get_text(buf.get_start_iter(), buf.get_end_iter(), True).replace("\n", "|"))
    else:
        say("ok " + line.strip())
    return True

def focused(widget, event):
    buf.place_cursor(buf.get_start_iter())
    say("ready")
    return False

view.connect("focus-in-event", focused)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
win.show_all()
view.grab_focus()
Gtk.main()
)PY";

}  // namespace

std::unique_ptr<GtkWaylandView> GtkWaylandView::start(const std::vector<std::string>& env,
                                                      const std::string& text, std::string* why) {
    char path[] = "/tmp/tandrel-gtk-wayland-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return nullptr;
    close(fd);
    auto view = std::unique_ptr<GtkWaylandView>(new GtkWaylandView());
    view->scriptPath_ = path;
    {
        std::ofstream script(path);
        script << kScript;
    }
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0) return nullptr;
    view->stdin_ = input[1];
    x11::testing::ChildProcess::Options options;
    options.env = env;
    // No accessibility bus for this window: GTK would wait for one at start-up.
    options.env.push_back("NO_AT_BRIDGE=1");
    options.captureStdout = true;
    options.stdinFd = input[0];
    view->process_ = x11::testing::ChildProcess::start({"/usr/bin/python3", path}, options, why);
    close(input[0]);
    if (!view->process_) return nullptr;
    // The text goes first, on one line.
    std::string first = text + "\n";
    for (char& c : first)
        if (c == '\n' && &c != &first.back()) c = '|';
    if (write(view->stdin_, first.data(), first.size()) != static_cast<ssize_t>(first.size())) return nullptr;
    view->reader_ = std::make_unique<x11::testing::LineReader>(view->process_->stdoutFd());
    if (!view->reader_->until([](const std::string& l) { return l == "ready"; }, std::chrono::seconds(15))) {
        if (why) *why = "the GTK window did not come up with the focus";
        return nullptr;
    }
    return view;
}

GtkWaylandView::~GtkWaylandView() {
    if (stdin_ >= 0) close(stdin_);
    process_.reset();
    if (!scriptPath_.empty()) std::remove(scriptPath_.c_str());
}

std::optional<std::string> GtkWaylandView::command(const std::string& line) {
    std::string framed = line + "\n";
    if (write(stdin_, framed.data(), framed.size()) != static_cast<ssize_t>(framed.size()))
        return std::nullopt;
    return reader_->next(std::chrono::seconds(5));
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

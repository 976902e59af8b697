// Whole-program figures of tandrel-helper on a private Xvfb with real X clients and a real client on its
// socket:
//   - latency from mouse-up to the "SelectionEvent" arriving at the client and to the "SelectedText" answer
//     (asked for as soon as the event arrives), p50 and p95, for the PRIMARY path (a drag in xterm), the copy
//     path (a drag in a Tk text window, which keeps its selection out of PRIMARY) and the accessibility path
//     (a drag in a GTK 3 text view on an accessibility bus; skipped with the reason when GTK or the bus
//     packages are missing), and the PRIMARY path again with that bus running (xterm is not on it);
//   - the helper's CPU time per input event in its event handling (a burst of motion and drag events through
//     XTEST, the helper's CPU time before and after; the same burst with the monitor off as the peer);
//   - the helper's context switches per second while idle, monitor on and monitor off;
//   - the helper's resident memory after the run;
//   - then the same latencies on a private headless sway with the Wayland backend (a drag in a GTK 3 text
//   view
//     under Wayland: the PRIMARY path, then the accessibility path with the view on a bus), beside the X11
//     PRIMARY figures of the same run, and the Wayland helper's idle context switches and memory (skipped
//     with the reason when sway cannot start).
// Prints figures and never fails the build or the tests; exits non-zero only when it could not measure.
//
// Usage: helper_latency_bench [--gestures N] [--events N] [--idle-seconds S] [--helper PATH]

// JSON and the session before the X headers: their macros (None, Bool, Status) clash with both.
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "helper/testing/HelperSession.h"
#include "platform/linux/AtspiSelection.h"
#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/WindowQueries.h"
#include "platform/x11/internal/testing/ChildProcess.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"
#include "platform/x11/internal/testing/GtkTextWindow.h"
#include "platform/x11/internal/testing/TkTextWindow.h"
#include "platform/x11/internal/testing/XvfbServer.h"
#ifdef TANDREL_BENCH_WAYLAND
#include "platform/wayland/internal/testing/GtkWaylandView.h"
#include "platform/wayland/internal/testing/SwayServer.h"
#endif

#include <X11/extensions/XTest.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using helper::testing::HelperSession;
using x11::testing::ChildProcess;

struct Options {
    int gestures = 50;
    int events = 20000;
    int idleSeconds = 10;
    std::string helperPath = TANDREL_HELPER_PATH;
};

// Milliseconds between two instants.
double millis(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The p-th percentile (0..100) of `values` by the nearest-rank method; 0 when empty.
double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size()) + 0.999999);
    rank = std::clamp<std::size_t>(rank, 1, values.size());
    return values[rank - 1];
}

// The benchmark's own pointer: XTEST on a connection of its own. `release` returns the mouse-up instant,
// taken right after the release request has been flushed and the server has processed it (XSync).
//
// Benchmark thread only. The gestures take a few milliseconds each (motion steps are spaced so that the
// applications see a drag rather than a jump).
class Pointer {
  public:
    static std::unique_ptr<Pointer> open(const std::string& display) {
        auto connection = x11::internal::Connection::open(display);
        if (!connection) return nullptr;
        return std::unique_ptr<Pointer>(new Pointer(std::move(connection)));
    }

    void moveTo(int x, int y) {
        XTestFakeMotionEvent(dpy(), -1, x, y, CurrentTime);
        XSync(dpy(), False);
    }
    // Motion without a round trip each time, for bursts; `flush` makes one.
    void queueMoveTo(int x, int y) { XTestFakeMotionEvent(dpy(), -1, x, y, CurrentTime); }
    void flush() { XSync(dpy(), False); }
    void press() {
        XTestFakeButtonEvent(dpy(), 1, True, CurrentTime);
        XSync(dpy(), False);
    }
    Clock::time_point release() {
        XTestFakeButtonEvent(dpy(), 1, False, CurrentTime);
        XSync(dpy(), False);
        return Clock::now();
    }

    // A left-button drag in a few steps; the mouse-up instant.
    Clock::time_point drag(int x1, int y1, int x2, int y2) {
        moveTo(x1, y1);
        std::this_thread::sleep_for(10ms);
        press();
        constexpr int kSteps = 4;
        for (int i = 1; i <= kSteps; ++i) {
            std::this_thread::sleep_for(5ms);
            moveTo(x1 + (x2 - x1) * i / kSteps, y1 + (y2 - y1) * i / kSteps);
        }
        std::this_thread::sleep_for(5ms);
        return release();
    }

  private:
    explicit Pointer(std::unique_ptr<x11::internal::Connection> connection)
        : connection_(std::move(connection)) {}
    ::Display* dpy() const { return connection_->get(); }
    std::unique_ptr<x11::internal::Connection> connection_;
};

// What /proc says about the helper process: CPU time, context switches of all its threads, memory.
class ProcStats {
  public:
    explicit ProcStats(pid_t pid) : dir_("/proc/" + std::to_string(pid)) {}

    // utime + stime of all threads, in nanoseconds (clock-tick resolution).
    long long cpuTicksNs() const {
        std::ifstream in(dir_ + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        if (close == std::string::npos) return -1;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        long long utime = 0, stime = 0;
        // After the name: state is field 3; utime and stime are fields 14 and 15.
        for (int index = 3; index <= 15 && fields >> field; ++index) {
            if (index == 14) utime = std::stoll(field);
            if (index == 15) stime = std::stoll(field);
        }
        return (utime + stime) * (1'000'000'000LL / ::sysconf(_SC_CLK_TCK));
    }

    // Time on a CPU of every thread now alive, in nanoseconds (the scheduler's own accounting).
    long long cpuScheduledNs() const {
        long long total = 0;
        forEachThread([&](const std::string& task) {
            std::ifstream in(task + "/schedstat");
            long long ns = 0;
            if (in >> ns) total += ns;
        });
        return total;
    }

    struct ThreadSwitches {
        std::string name;
        long long switches = 0;  // voluntary + involuntary
    };
    // Per thread id, the threads alive now.
    std::map<std::string, ThreadSwitches> contextSwitches() const {
        std::map<std::string, ThreadSwitches> byThread;
        forEachThread([&](const std::string& task) {
            std::ifstream comm(task + "/comm");
            ThreadSwitches entry;
            if (!std::getline(comm, entry.name)) return;  // ended meanwhile
            entry.switches = statusValue(task + "/status", "voluntary_ctxt_switches:") +
                             statusValue(task + "/status", "nonvoluntary_ctxt_switches:");
            byThread[task.substr(task.rfind('/') + 1)] = entry;
        });
        return byThread;
    }

    long long statusKiB(const std::string& key) const { return statusValue(dir_ + "/status", key + ":"); }

  private:
    void forEachThread(const std::function<void(const std::string&)>& visit) const {
        std::unique_ptr<DIR, int (*)(DIR*)> tasks(::opendir((dir_ + "/task").c_str()), ::closedir);
        if (!tasks) return;
        while (const dirent* entry = ::readdir(tasks.get())) {
            if (entry->d_name[0] != '.') visit(dir_ + "/task/" + entry->d_name);
        }
    }
    static long long statusValue(const std::string& path, const std::string& key) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(key, 0) == 0) return std::stoll(line.substr(key.size()));
        }
        return 0;
    }

    std::string dir_;
};

// One place to drag and the text the drag selects.
struct Gesture {
    int x1, y1, x2, y2;
    std::string text;
};

// The figures of one path.
struct PathFigures {
    std::string name;
    std::vector<double> toEvent, toAnswer;  // milliseconds from mouse-up
    int missed = 0;                         // no "SelectionEvent" within the limit
    int wrongText = 0;                      // the answer held another text
    int extraEvents = 0;                    // more than one event for one gesture
};

// Drags, each `gap` after the previous mouse-up, and times the client's view of each. Two drags first are
// not counted (first cursor image, first reads).
// `drag` makes the gesture and returns its mouse-up instant.
using Drag = std::function<Clock::time_point(const Gesture&)>;

PathFigures measurePath(const std::string& name, HelperSession& session, const Drag& drag, int count,
                        std::chrono::milliseconds gap, const std::function<Gesture(int)>& gestureFor) {
    PathFigures figures{name, {}, {}, 0, 0, 0};
    Clock::time_point lastUp = Clock::now() - gap;
    constexpr int kWarmUp = 2;
    for (int i = -kWarmUp; i < count; ++i) {
        std::this_thread::sleep_until(lastUp + gap);
        const Gesture gesture = gestureFor(i + kWarmUp);
        const std::size_t eventsBefore = session.count("SelectionEvent");
        const Clock::time_point up = drag(gesture);
        lastUp = up;
        auto event = session.waitFor("SelectionEvent", 3s);
        if (!event) {
            if (i >= 0) ++figures.missed;
            continue;
        }
        auto answer = session.request("SelectedText", std::nullopt, 5s);
        if (i < 0) continue;
        figures.toEvent.push_back(millis(up, event->arrival));
        if (!answer) {
            ++figures.missed;
            continue;
        }
        figures.toAnswer.push_back(millis(up, answer->arrival));
        auto json = nlohmann::json::parse(answer->data, nullptr, /*allow_exceptions=*/false);
        if (!json.is_object() || json.value("content", std::string()) != gesture.text) ++figures.wrongText;
        if (session.count("SelectionEvent") > eventsBefore + 1) ++figures.extraEvents;
    }
    return figures;
}

void printPath(const PathFigures& f) {
    std::printf("  %-24s %4zu  %4d  %4d  %4d   %8.2f %8.2f   %8.2f %8.2f\n", f.name.c_str(), f.toEvent.size(),
                f.missed, f.wrongText, f.extraEvents, percentile(f.toEvent, 50), percentile(f.toEvent, 95),
                percentile(f.toAnswer, 50), percentile(f.toAnswer, 95));
}

// The window of a client process, once it is visible; empty after `limit`.
std::string windowOf(const x11::testing::XvfbServer& server, pid_t pid,
                     std::chrono::milliseconds limit = 10s) {
    std::string window;
    x11::testing::waitUntil(
        [&] {
            int status = -1;
            std::istringstream found(
                x11::testing::runCommand({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)},
                                         {server.displayEnv()}, &status));
            return status == 0 && static_cast<bool>(found >> window);
        },
        limit);
    return window;
}

// Gives xterm the keyboard focus: the helper reads PRIMARY only when its owner is the focused application,
// and no window manager gives the focus on a click.
bool focusXterm(const x11::testing::XvfbServer& server, ChildProcess& xterm, std::string& why) {
    const std::string window = windowOf(server, xterm.pid());
    int status = -1;
    if (!window.empty()) {
        x11::testing::runCommand({"xdotool", "windowfocus", "--sync", window}, {server.displayEnv()},
                                 &status);
    }
    if (status != 0)
        why = window.empty() ? "the xterm window did not appear" : "cannot focus the xterm window";
    return status == 0;
}

// An X client the helper reads from, started and ended by the benchmark.
std::unique_ptr<ChildProcess> startXterm(const x11::testing::XvfbServer& server, std::string& why) {
    ChildProcess::Options options;
    options.env = {server.displayEnv()};
    auto xterm = ChildProcess::start({"xterm", "-geometry", "60x5+100+100", "-e", "sh", "-c",
                                      "printf 'alpha bravo charlie\\ndelta echo foxtrot\\n'; sleep 3600"},
                                     options, &why);
    if (!xterm || !focusXterm(server, *xterm, why)) return nullptr;
    std::this_thread::sleep_for(200ms);  // its text drawn
    return xterm;
}

// xterm's "fixed" font is 6x13 with a 2-pixel border; the window is at +100+100.
int xtermColumn(int c) {
    return 100 + 2 + 6 * c + 3;
}
int xtermRow(int r) {
    return 100 + 2 + 13 * r + 6;
}

// Alternately a drag along each line past its end, so that every read is a new text.
Gesture xtermGesture(int i) {
    return i % 2 == 0
               ? Gesture{xtermColumn(6), xtermRow(0), xtermColumn(40), xtermRow(0), "bravo charlie\n"}
               : Gesture{xtermColumn(0), xtermRow(1), xtermColumn(40), xtermRow(1), "delta echo foxtrot\n"};
}

constexpr const char* kUserClipboard = "the user's clipboard text";

// What CLIPBOARD holds as text, as xclip reads it.
std::string clipboardText(const x11::testing::XvfbServer& server) {
    int status = -1;
    auto text =
        x11::testing::runCommand({"xclip", "-o", "-selection", "clipboard"}, {server.displayEnv()}, &status);
    return status == 0 ? text : "<xclip failed>";
}

// A short text on CLIPBOARD, held by xclip until something else takes the selection (the helper, for the copy
// path; it then serves the saved text itself).
std::unique_ptr<ChildProcess> ownClipboard(const x11::testing::XvfbServer& server, const std::string& text) {
    char path[] = "/tmp/tandrel-bench-clip-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return nullptr;
    [[maybe_unused]] auto written = ::write(fd, text.data(), text.size());
    ::close(fd);
    ChildProcess::Options options;
    options.env = {server.displayEnv()};
    auto xclip = ChildProcess::start({"xclip", "-quiet", "-i", "-selection", "clipboard", path}, options);
    x11::testing::waitUntil([&] { return clipboardText(server) == text; });
    std::remove(path);
    return xclip;
}

// A GTK 3 text view on a private accessibility bus, with the keyboard focus, once the bus answers for it (the
// application joins the bus a moment after its window maps; a drag before that would be read by a copy).
std::unique_ptr<x11::testing::GtkTextWindow> startGtk(const x11::testing::GtkAccessibilitySession& bus,
                                                      x11::internal::Connection& connection,
                                                      std::string& why) {
    auto gtk = x11::testing::GtkTextWindow::start(bus.clientEnv(), "select these gtk words", 600, 60, &why);
    if (!gtk) return nullptr;
    linuxdesktop::AtspiSelection reader(
        {}, [&] { return x11::internal::WindowQueries::atspiBusAddress(connection); });
    const bool answers =
        gtk->command("select 0 6") == "ok select 0 6" &&
        x11::testing::waitUntil([&] { return reader.selectedText(gtk->pid()) == "select"; }, 10s);
    if (!answers || gtk->command("select 0 0") != "ok select 0 0") {
        why = "the GTK window never answered on the accessibility bus";
        return nullptr;
    }
    return gtk;
}

// Two drags along the GTK text view's first line and what each selects, as the application reports it. The
// helper's events for these drags are drained.
std::vector<Gesture> gtkGestures(x11::testing::GtkTextWindow& gtk, HelperSession& session, Pointer& pointer) {
    const auto& view = gtk.textView();
    std::vector<Gesture> gestures = {{view.x + 10, view.y + 8, view.x + 120, view.y + 8, {}},
                                     {view.x + 10, view.y + 8, view.x + 60, view.y + 8, {}}};
    for (auto& gesture : gestures) {
        std::this_thread::sleep_for(500ms);
        pointer.drag(gesture.x1, gesture.y1, gesture.x2, gesture.y2);
        std::this_thread::sleep_for(300ms);
        gesture.text = gtk.selection().value_or("");
    }
    while (session.waitFor("SelectionEvent", 600ms)) {
    }
    return gestures;
}

// Waits until the helper's CPU time has not moved for a while: the events sent so far have been handled.
long long settledCpuNs(const ProcStats& stats) {
    long long last = stats.cpuScheduledNs();
    int quiet = 0;
    const auto deadline = Clock::now() + 10s;
    while (quiet < 4 && Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        const long long now = stats.cpuScheduledNs();
        quiet = now == last ? quiet + 1 : 0;
        last = now;
    }
    return last;
}

struct BurstCost {
    double scheduledNsPerEvent = 0;  // from /proc/<pid>/task/*/schedstat
    double ticksNsPerEvent = 0;      // from utime+stime in /proc/<pid>/stat
};

// `events` pointer events over the root window (no application under them): motion with the button up, or
// with it held (drags, ended by one release).
BurstCost burstCost(Pointer& pointer, const ProcStats& stats, int events, bool drag) {
    pointer.moveTo(600, 300);
    const long long scheduledBefore = settledCpuNs(stats);
    const long long ticksBefore = stats.cpuTicksNs();
    if (drag) pointer.press();
    for (int i = 0; i < events; ++i) {
        pointer.queueMoveTo(600 + i % 600, 300 + (i / 600) % 600);
        if (i % 200 == 199) pointer.flush();
    }
    pointer.flush();
    if (drag) pointer.release();
    const long long scheduledAfter = settledCpuNs(stats);
    const long long ticksAfter = stats.cpuTicksNs();
    return {static_cast<double>(scheduledAfter - scheduledBefore) / events,
            static_cast<double>(ticksAfter - ticksBefore) / events};
}

// Context switches of all the helper's threads over `seconds` without input, per second; `busyThreads` names
// the threads that switched, started or ended meanwhile (a thread that started counts all its switches; the
// last switches of one that ended are lost, so the window should start once the pool has retired its idle
// workers).
std::string label(const std::string& tid, const ProcStats::ThreadSwitches& thread) {
    return (thread.name.empty() ? "worker" : thread.name) + "/" + tid;
}

double idleSwitchesPerSecond(const ProcStats& stats, int seconds, std::string& busyThreads) {
    const auto before = stats.contextSwitches();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto after = stats.contextSwitches();
    long long total = 0;
    busyThreads.clear();
    for (const auto& [tid, thread] : after) {
        const auto previous = before.find(tid);
        const long long delta = thread.switches - (previous == before.end() ? 0 : previous->second.switches);
        total += delta;
        if (previous == before.end()) {
            busyThreads += " " + label(tid, thread) + " started:" + std::to_string(delta);
        } else if (delta != 0) {
            busyThreads += " " + label(tid, thread) + ":" + std::to_string(delta);
        }
    }
    for (const auto& [tid, thread] : before) {
        if (after.count(tid) == 0) busyThreads += " " + label(tid, thread) + " ended";
    }
    return static_cast<double>(total) / seconds;
}

// The idle figures: the pool's workers retire 5 s after their last task, so the window starts after a
// settling time; `retired` counts the threads that ended while settling.
struct IdleFigures {
    double perSecond = 0;
    std::string busyThreads;
    int retired = 0;
};

IdleFigures measureIdle(const ProcStats& stats, int seconds) {
    constexpr int kSettleSeconds = 6;
    const auto before = stats.contextSwitches();
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    IdleFigures figures;
    for (const auto& [tid, thread] : before)
        figures.retired += stats.contextSwitches().count(tid) == 0 ? 1 : 0;
    figures.perSecond = idleSwitchesPerSecond(stats, seconds, figures.busyThreads);
    return figures;
}

void printIdle(const char* what, const IdleFigures& idle) {
    std::printf("  %-11s %.2f/s%s  (%d idle pool workers retired while settling)\n", what, idle.perSecond,
                idle.busyThreads.empty() ? "" : ("  (" + idle.busyThreads + " )").c_str(), idle.retired);
}

bool startMonitor(HelperSession& session) {
    auto answer = session.request("StartMonitor");
    if (!answer) return false;
    auto json = nlohmann::json::parse(answer->data, nullptr, /*allow_exceptions=*/false);
    return json.is_object() && json.value("result", false);
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--helper") {
            options.helperPath = value;
            continue;
        }
        const int number = std::atoi(value.c_str());
        if (number <= 0) return std::nullopt;
        if (name == "--gestures") {
            options.gestures = number;
        } else if (name == "--events") {
            options.events = number;
        } else if (name == "--idle-seconds") {
            options.idleSeconds = number;
        } else {
            return std::nullopt;
        }
    }
    if (argc % 2 == 0) return std::nullopt;
    return options;
}

void printLatencyHeader() {
    std::printf(
        "latency, ms from mouse-up          n  miss  wrong extra   event p50    p95   answer p50    p95\n");
}

// `path` against the `peer` path of the same run.
void printRatio(const PathFigures& path, const PathFigures& peer) {
    if (peer.toAnswer.empty() || path.toAnswer.empty()) return;
    std::printf("  %s / %s: event p50 x%.1f, p95 x%.1f; answer p50 x%.1f, p95 x%.1f\n", path.name.c_str(),
                peer.name.c_str(), percentile(path.toEvent, 50) / percentile(peer.toEvent, 50),
                percentile(path.toEvent, 95) / percentile(peer.toEvent, 95),
                percentile(path.toAnswer, 50) / percentile(peer.toAnswer, 50),
                percentile(path.toAnswer, 95) / percentile(peer.toAnswer, 95));
}

#ifdef TANDREL_BENCH_WAYLAND
// The Wayland figures, on a private headless sway; `x11Primary` is this run's X11 PRIMARY path.
void measureWayland(const Options& options, const PathFigures& x11Primary) {
    std::string why;
    auto sway = wayland::testing::Compositor::start(wayland::testing::Compositor::Kind::Sway, {}, &why);
    if (!sway) {
        std::printf("\nWayland figures skipped: sway cannot start: %s\n", why.c_str());
        return;
    }
    // The helper finds the accessibility bus through the session bus, as on a Wayland desktop.
    auto bus = x11::testing::GtkAccessibilitySession::start("WAYLAND_DISPLAY=" + sway->socket(), &why);
    if (bus) ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
    auto session = HelperSession::start(options.helperPath, "", &why, 10s, sway->socket());
    if (!session || !startMonitor(*session)) {
        std::printf("\nWayland figures skipped: the helper: %s\n", why.c_str());
        return;
    }
    auto& pointer = *sway;
    const Drag drag = [&](const Gesture& g) {
        pointer.moveTo(g.x1, g.y1);
        std::this_thread::sleep_for(10ms);
        pointer.button(true);
        for (int i = 1; i <= 4; ++i) {
            std::this_thread::sleep_for(5ms);
            pointer.moveTo(g.x1 + (g.x2 - g.x1) * i / 4, g.y1 + (g.y2 - g.y1) * i / 4);
        }
        std::this_thread::sleep_for(5ms);
        pointer.button(false);
        return Clock::now();
    };
    // Two lines of the view, alternately, so that every selection is a new text.
    const auto lines = [](int i) {
        return i % 2 ? Gesture{4, 30, 900, 30, "delta echo foxtrot"}
                     : Gesture{4, 8, 900, 8, "alpha bravo charlie"};
    };
    std::vector<PathFigures> paths;
    auto measureView = [&](const std::string& name, std::vector<std::string> env) {
        env.push_back("DISPLAY=");
        auto view =
            wayland::testing::GtkWaylandView::start(env, "alpha bravo charlie|delta echo foxtrot", &why);
        if (!view) return std::printf("%s skipped: %s\n", name.c_str(), why.c_str()), void();
        // A window just shown may miss its first pointer input; a view on the bus joins it a moment later.
        pointer.moveTo(1200, 780);
        pointer.button(true);
        pointer.button(false);
        std::this_thread::sleep_for(2s);
        paths.push_back(measurePath(name, *session, drag, options.gestures, 500ms, lines));
    };
    measureView("Wayland PRIMARY (GTK)", sway->env());
    if (bus) {
        auto env = sway->env();
        for (const auto& e : bus->clientEnv()) env.push_back(e);
        measureView("Wayland AT-SPI (GTK)", env);
    } else {
        std::printf("Wayland AT-SPI path skipped: %s\n", why.c_str());
    }
    std::printf(
        "\ntandrel-helper with the Wayland backend on a private headless sway; mouse-up = just after the\n"
        "virtual pointer's release reached the compositor.\n");
    printLatencyHeader();
    printPath(x11Primary);
    for (const auto& path : paths) printPath(path);
    for (const auto& path : paths) printRatio(path, x11Primary);

    const ProcStats stats(session->pid());
    const IdleFigures idleOn = measureIdle(stats, options.idleSeconds);
    if (!session->connect() || !session->request("IsPermissionGranted")) return;
    const IdleFigures idleOff = measureIdle(stats, options.idleSeconds);
    std::printf(
        "\nidle Wayland helper, %d s without input after 6 s of settling: context switches per second "
        "(target 0)\n",
        options.idleSeconds);
    printIdle("monitor on", idleOn);
    printIdle("monitor off", idleOff);
    std::printf("\nWayland helper memory after the run: VmRSS %lld KiB, VmHWM %lld KiB\n",
                stats.statusKiB("VmRSS"), stats.statusKiB("VmHWM"));
}
#endif

int fail(const std::string& why) {
    std::fprintf(stderr, "helper_latency_bench: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    auto parsed = parseOptions(argc, argv);
    if (!parsed) {
        return fail(
            "usage: helper_latency_bench [--gestures N] [--events N] [--idle-seconds S] [--helper PATH]");
    }
    const Options options = *parsed;

    std::string why;
    auto server = x11::testing::XvfbServer::start(&why);
    if (!server) return fail("Xvfb cannot start: " + why);
    auto pointer = Pointer::open(server->displayName());
    if (!pointer) return fail("cannot open " + server->displayName());
    auto xterm = startXterm(*server, why);
    if (!xterm) return fail("xterm: " + why);
    auto clipboardOwner = ownClipboard(*server, kUserClipboard);

    auto session = HelperSession::start(options.helperPath, server->displayName(), &why);
    if (!session) return fail(why);
    if (!startMonitor(*session)) return fail("the helper did not start its monitor (no input permission?)");
    const ProcStats stats(session->pid());

    std::printf("tandrel-helper (%s) on a private Xvfb %s; %d gestures per path after 2 not counted.\n",
                options.helperPath.c_str(), server->displayName().c_str(), options.gestures);
    std::printf(
        "Mouse-up = just after the XTEST button release was flushed (XTestFakeButtonEvent + XSync on the\n"
        "benchmark's own connection); arrival = when the client's queue received the message (steady "
        "clock).\n"
        "The client asks for SelectedText as soon as the SelectionEvent arrives.\n\n");

    const Drag x11Drag = [&](const Gesture& g) { return pointer->drag(g.x1, g.y1, g.x2, g.y2); };
    std::vector<PathFigures> paths;
    // PRIMARY: xterm exports its selection; alternate two lines so that every read is a new text.
    paths.push_back(
        measurePath("PRIMARY (xterm drag)", *session, x11Drag, options.gestures, 450ms, xtermGesture));
    // Tk takes the keyboard focus when it starts (no window manager runs to give it on a click).
    auto tk = x11::testing::TkTextWindow::start(server->displayEnv(), "alpha beta", 50, 500, false, &why);
    if (!tk) return fail("Tk: " + why);
    // Copy: Tk keeps its selection out of PRIMARY, so the helper saves the clipboard, sends the copy chord,
    // reads and restores. A longer gap lets each restore finish before the next drag.
    paths.push_back(measurePath("copy (Tk drag)", *session, x11Drag, options.gestures, 700ms, [](int) {
        return Gesture{55, 508, 300, 508, "alpha beta\n"};
    }));
    const std::string restored = clipboardText(*server);
    if (restored != kUserClipboard)
        std::printf("note: the user's clipboard holds \"%s\" after the copy path\n", restored.c_str());
    // Accessibility: GTK keeps its selection out of PRIMARY; with the bus the helper asks the application and
    // sends no key stroke. Then PRIMARY again, now that every read asks the bus first.
    auto busConnection = x11::internal::Connection::open(server->displayName());
    auto bus = x11::testing::GtkAccessibilitySession::start(server->displayEnv(), &why);
    auto gtk = bus && busConnection ? startGtk(*bus, *busConnection, why) : nullptr;
    if (gtk) {
        const auto gestures = gtkGestures(*gtk, *session, *pointer);
        const int keysBefore = gtk->keyPresses();
        paths.push_back(measurePath("AT-SPI (GTK drag)", *session, x11Drag, options.gestures, 500ms,
                                    [&](int i) { return gestures[i % 2]; }));
        if (gtk->keyPresses() != keysBefore) std::printf("note: key strokes reached the GTK window\n");
        if (!focusXterm(*server, *xterm, why)) return fail(why);
        paths.push_back(
            measurePath("PRIMARY, bus running", *session, x11Drag, options.gestures, 450ms, xtermGesture));
    } else {
        std::printf("AT-SPI path skipped: %s\n\n", why.c_str());
    }

    printLatencyHeader();
    for (const auto& path : paths) printPath(path);
    // Each path against the PRIMARY path of the same run.
    for (std::size_t i = 1; i < paths.size(); ++i) printRatio(paths[i], paths[0]);

    // Event handling cost, monitor on; then the same bursts with the monitor off (a new client that does not
    // start it: losing the previous client stopped it).
    std::this_thread::sleep_for(1s);
    const BurstCost motionOn = burstCost(*pointer, stats, options.events, false);
    const BurstCost dragOn = burstCost(*pointer, stats, options.events, true);
    const IdleFigures idleOn = measureIdle(stats, options.idleSeconds);

    if (!session->connect() || !session->request("IsPermissionGranted")) return fail("cannot reconnect");
    std::this_thread::sleep_for(500ms);
    const BurstCost motionOff = burstCost(*pointer, stats, options.events, false);
    const BurstCost dragOff = burstCost(*pointer, stats, options.events, true);
    const IdleFigures idleOff = measureIdle(stats, options.idleSeconds);

    std::printf(
        "\nhelper CPU per input event (%d XTEST events per burst over the root window; helper's "
        "whole-process\n"
        "CPU time before and after each burst: scheduler ns from /proc/<pid>/task/*/schedstat, utime+stime\n"
        "ticks from /proc/<pid>/stat in brackets)\n",
        options.events);
    auto cost = [](const char* what, const BurstCost& on, const BurstCost& off) {
        std::printf(
            "  %-18s monitor on %7.2f us [%6.2f]   monitor off %7.2f us [%6.2f]   on - off %7.2f us\n", what,
            on.scheduledNsPerEvent / 1000, on.ticksNsPerEvent / 1000, off.scheduledNsPerEvent / 1000,
            off.ticksNsPerEvent / 1000, (on.scheduledNsPerEvent - off.scheduledNsPerEvent) / 1000);
    };
    cost("motion, button up", motionOn, motionOff);
    cost("drag, button held", dragOn, dragOff);

    std::printf(
        "\nidle helper, %d s without input after 6 s of settling: context switches of all its threads per "
        "second "
        "(target 0)\n",
        options.idleSeconds);
    printIdle("monitor on", idleOn);
    printIdle("monitor off", idleOff);

    std::printf("\nhelper memory after the run: VmRSS %lld KiB, VmHWM %lld KiB\n", stats.statusKiB("VmRSS"),
                stats.statusKiB("VmHWM"));
#ifdef TANDREL_BENCH_WAYLAND
    // One helper session at a time (each points XDG_RUNTIME_DIR at its own directory).
    session.reset();
    measureWayland(options, paths[0]);
#endif
    return 0;
}

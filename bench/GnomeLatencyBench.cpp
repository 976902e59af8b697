// Whole-program figures of tandrel-helper on a private headless GNOME Shell through its Shell extension:
// latency from mouse-up (the test extension's virtual button released) to the "SelectionEvent" at the client
// and to the "SelectedText" answer (asked for as soon as the event arrives), p50 and p95, for drags in a GTK
// 3 text view. Run it as the desktop's user: `sh src/platform/wayland/internal/testing/run-as-desktop-user.sh
// build/release/bench/gnome_latency_bench [gestures]`. Prints figures; exits non-zero only when it could not
// measure.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "helper/testing/HelperSession.h"
#include "platform/wayland/internal/testing/GnomeShellServer.h"
#include "platform/wayland/internal/testing/GtkWaylandView.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    const int gestures = argc > 1 ? std::atoi(argv[1]) : 30;
    std::string why;
    using wayland::testing::Compositor;
    auto compositor = Compositor::start(Compositor::Kind::Gnome, {}, &why);
    if (!compositor) return std::fprintf(stderr, "gnome-shell cannot start: %s\n", why.c_str()), 1;
    auto* shell = static_cast<wayland::testing::GnomeShellServer*>(compositor.get());
    auto view =
        wayland::testing::GtkWaylandView::start(shell->env(), "alpha bravo charlie|delta echo foxtrot", &why);
    auto helper = helper::testing::HelperSession::start(TANDREL_HELPER_PATH, shell->display(), &why, 10s,
                                                        shell->socket(), shell->helperEnv());
    if (!view || !helper) return std::fprintf(stderr, "cannot start: %s\n", why.c_str()), 1;
    helper->request("StartMonitor");
    std::vector<double> event, answer;
    constexpr int kTop = 69 + 9;
    for (int i = 0; i < gestures; ++i) {
        // Alternate two selections so that none is a repeat of the last one announced.
        const int line = kTop + (i % 2) * 18;
        std::this_thread::sleep_for(500ms);
        shell->moveTo(3, line);
        shell->button(true);
        for (int x : {200, 400, 900}) {
            std::this_thread::sleep_for(10ms);
            shell->moveTo(x, line);
        }
        shell->button(false);
        const auto up = Clock::now();
        auto selection = helper->waitFor("SelectionEvent", 3s);
        if (!selection) continue;
        auto text = helper->request("SelectedText");
        event.push_back(std::chrono::duration<double, std::milli>(selection->arrival - up).count());
        if (text) answer.push_back(std::chrono::duration<double, std::milli>(text->arrival - up).count());
    }
    std::printf("gnome drags announced %zu of %d\n", event.size(), gestures);
    std::printf("gnome mouse-up to SelectionEvent p50 %.1f ms p95 %.1f ms\n", percentile(event, 0.5),
                percentile(event, 0.95));
    std::printf("gnome mouse-up to SelectedText answer p50 %.1f ms p95 %.1f ms\n", percentile(answer, 0.5),
                percentile(answer, 0.95));
    helper->stop();
    return event.empty() ? 1 : 0;
}

// Figures of the X11 backend on a private Xvfb: cursor image + hash cost, cached text-cursor verdicts, the
// per-event translation cost, PRIMARY read latency from a real xterm, and the AT-SPI read of a real GTK 3
// window's selection (the application's own focus search against the walk). Prints figures; never fails.
#include <benchmark/benchmark.h>

#include <X11/Xatom.h>

#include <algorithm>
#include <vector>

#include "platform/linux/AtspiSelection.h"
#include "platform/x11/internal/CursorWatcher.h"
#include "platform/x11/internal/PointerEventTranslator.h"
#include "platform/x11/internal/SelectionReader.h"
#include "platform/x11/internal/WindowQueries.h"
#include "platform/x11/internal/testing/GtkAccessibilitySession.h"
#include "platform/x11/internal/testing/GtkTextWindow.h"
#include "platform/x11/internal/testing/XvfbServer.h"

namespace {

using namespace x11::internal;
using namespace std::chrono_literals;

x11::testing::XvfbServer* server() {
    static x11::testing::XvfbServer* s = x11::testing::sharedXvfb();
    return s;
}

Connection* connection() {
    static std::unique_ptr<Connection> c = server() ? Connection::open(server()->displayName()) : nullptr;
    return c.get();
}

void BM_CursorImageAndHash(benchmark::State& state) {
    if (!connection()) return state.SkipWithError("Xvfb cannot start");
    uint64_t sink = 0;
    for (auto _ : state) {
        auto image = CursorImages::current(*connection());
        sink ^= image ? hashPixels(image->argb) : 0;
    }
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_CursorImageAndHash)->UseRealTime();

void BM_TextCursorVerdictCachedPerSerial(benchmark::State& state) {
    if (!connection()) return state.SkipWithError("Xvfb cannot start");
    CursorWatcher watcher(*connection());
    bool sink = false;
    for (auto _ : state) sink ^= watcher.isTextCursor();
    benchmark::DoNotOptimize(sink);
    state.counters["image_fetches"] = static_cast<double>(watcher.fetches());
}
BENCHMARK(BM_TextCursorVerdictCachedPerSerial)->UseRealTime();

void BM_TranslateRecordedEvent(benchmark::State& state) {
    PointerEventTranslator translator({1, 2, 3, 4, 5, 6, 7}, {});
    uint32_t time = 0;
    int x = 0;
    for (auto _ : state) {
        RawInput in{RawInput::Type::Motion, 0, ++x & 1023, 10, ++time, Button1Mask};
        benchmark::DoNotOptimize(translator.translate(in));
    }
}
BENCHMARK(BM_TranslateRecordedEvent);

void BM_ReadPrimaryFromXterm(benchmark::State& state) {
    if (!connection()) return state.SkipWithError("Xvfb cannot start");
    x11::testing::ChildProcess::Options options;
    options.env = {server()->displayEnv()};
    auto xterm = x11::testing::ChildProcess::start({"xterm", "-geometry", "60x5+100+100", "-e", "sh", "-c",
                                                    "printf 'benchmark selection text\\n'; sleep 600"},
                                                   options);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        int status = -1;
        x11::testing::runCommand(args, options.env, &status);
        return status == 0;
    };
    if (!xterm || !run({"search", "--sync", "--onlyvisible", "--pid", std::to_string(xterm->pid())}) ||
        !run({"mousemove", "120", "108", "click", "--repeat", "3", "--delay", "50", "1"}))
        return state.SkipWithError("xterm did not come up");
    SelectionReader reader(*connection());
    x11::testing::waitUntil([&] { return XGetSelectionOwner(connection()->get(), XA_PRIMARY) != None; });
    size_t bytes = 0;
    for (auto _ : state) {
        auto text = reader.readText(XA_PRIMARY, 1000ms);
        bytes += text ? text->size() : 0;
    }
    state.counters["bytes_per_read"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadPrimaryFromXterm)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

// One AT-SPI read of a GTK text view's selection per iteration: finding the application on the bus, its
// focused object, its role and its selection. Arg 1: the application's own focus search; 0: the walk.
void BM_ReadAtspiSelectionFromGtk(benchmark::State& state) {
    if (!connection()) return state.SkipWithError("Xvfb cannot start");
    std::string why;
    auto* session = x11::testing::sharedGtkSession(&why);
    if (!session) return state.SkipWithError(("no GTK accessibility session: " + why).c_str());
    auto gtk =
        x11::testing::GtkTextWindow::start(session->clientEnv(), "benchmark selection text", 60, 60, &why);
    if (!gtk || !gtk->command("select 10 19")) return state.SkipWithError(("GTK window: " + why).c_str());
    linuxdesktop::AtspiSelection::Options options;
    options.searchFocus = state.range(0) != 0;
    linuxdesktop::AtspiSelection reader(options,
                                        [] { return WindowQueries::atspiBusAddress(*connection()); });
    if (!x11::testing::waitUntil([&] { return reader.selectedText(gtk->pid()) == "selection"; }, 10s))
        return state.SkipWithError("the GTK window's selection never came through AT-SPI");
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto text = reader.selectedText(gtk->pid());
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(text);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p95_us"] = micros[micros.size() * 95 / 100];
}
BENCHMARK(BM_ReadAtspiSelectionFromGtk)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

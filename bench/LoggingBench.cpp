// The standard logging workload: LogI("Got message: %s", <40-character text>) a million times, from one and
// from two producers, into one registered logger that only counts. Measures each call's latency on the caller
// (steady_clock around every call) and the end-to-end throughput until flushLog returns; then runs the same
// workload through spdlog's asynchronous logger into a counting sink and prints the ratios.
//
//   logging_bench [lines] [ours]   (default 1000000; "ours" runs only our side, one producer, for profiling)

#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "helper/logging.h"
#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kText = "0123456789abcdefghijklmnopqrstuvwxyzABCD";  // 40 characters

class CountingLogger : public DDAbstractLogger {
  public:
    CountingLogger() { initLoggerQueue(); }
    std::string loggerName() override { return "bench.counting"; }
    void logMessage(const DDLogMessagePtr&) override { count.fetch_add(1, std::memory_order_relaxed); }
    std::atomic<std::uint64_t> count{0};
};

class CountingSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
  public:
    std::atomic<std::uint64_t> count{0};

  protected:
    void sink_it_(const spdlog::details::log_msg&) override { count.fetch_add(1, std::memory_order_relaxed); }
    void flush_() override {}
};

struct Result {
    double p50 = 0, p99 = 0, p999 = 0, max = 0;  // nanoseconds per call
    double linesPerSecond = 0;
};

double percentile(const std::vector<std::uint32_t>& sorted, double p) {
    const std::size_t i =
        std::min(sorted.size() - 1, static_cast<std::size_t>(p * static_cast<double>(sorted.size())));
    return sorted[i];
}

// Runs `call` `lines` times split over `producers` threads, timing each call; `drain` returns once every line
// has been handled.
template <typename Call, typename Drain>
Result run(std::size_t lines, int producers, Call call, Drain drain) {
    std::vector<std::vector<std::uint32_t>> latencies(producers);
    const std::size_t perProducer = lines / producers;
    for (auto& l : latencies) l.resize(perProducer);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < producers; ++t) {
        threads.emplace_back([&, t] {
            auto& out = latencies[t];
            ready.fetch_add(1);
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (std::size_t i = 0; i < perProducer; ++i) {
                const auto start = Clock::now();
                call();
                const auto end = Clock::now();
                out[i] = static_cast<std::uint32_t>(
                    std::min<std::int64_t>(UINT32_MAX, std::chrono::nanoseconds(end - start).count()));
            }
        });
    }
    while (ready.load() < producers) std::this_thread::yield();
    const auto start = Clock::now();
    go.store(true, std::memory_order_release);
    for (auto& t : threads) t.join();
    drain();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<std::uint32_t> all;
    all.reserve(lines);
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    Result r;
    r.p50 = percentile(all, 0.50);
    r.p99 = percentile(all, 0.99);
    r.p999 = percentile(all, 0.999);
    r.max = all.back();
    r.linesPerSecond = static_cast<double>(all.size()) / seconds;
    return r;
}

double clockOverheadNs() {
    std::vector<std::int64_t> samples(100000);
    for (auto& s : samples) {
        const auto a = Clock::now();
        const auto b = Clock::now();
        s = std::chrono::nanoseconds(b - a).count();
    }
    std::sort(samples.begin(), samples.end());
    return static_cast<double>(samples[samples.size() / 2]);
}

void printRow(const char* name, int producers, const Result& r) {
    std::printf("%-8s %9d %9.0f %9.0f %9.0f %10.0f %12.0f\n", name, producers, r.p50, r.p99, r.p999, r.max,
                r.linesPerSecond);
}

void printRatios(int producers, const Result& dd, const Result& sp) {
    std::printf(
        "ratio    %9d %9.2f %9.2f %9.2f %10.2f %12.2f   (ours / spdlog; latency lower is better, "
        "throughput higher)\n",
        producers, dd.p50 / sp.p50, dd.p99 / sp.p99, dd.p999 / sp.p999, dd.max / sp.max,
        dd.linesPerSecond / sp.linesPerSecond);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t lines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const bool oursOnly = argc > 2 && std::string(argv[2]) == "ours";

    auto counting = std::make_shared<CountingLogger>();
    DDLog::sharedInstance().addLogger(counting);

    spdlog::init_thread_pool(8192, 1);
    auto sink = std::make_shared<CountingSink>();
    auto spd = std::make_shared<spdlog::async_logger>("bench", sink, spdlog::thread_pool(),
                                                      spdlog::async_overflow_policy::block);

    const auto ddCall = [] { LogI("Got message: %s", kText); };
    const auto spCall = [&] { spd->info("[INFO] Got message: {}", kText); };
    std::uint64_t spTarget = 0;
    const auto ddDrain = [] { DDLog::sharedInstance().flushLog(); };
    const auto spDrain = [&] {
        while (sink->count.load(std::memory_order_relaxed) < spTarget) std::this_thread::yield();
    };

    if (oursOnly) {
        const Result dd = run(lines, 1, ddCall, ddDrain);
        printRow("ours", 1, dd);
        return 0;
    }

    // Warm up both (threads, allocator arenas, caches).
    spTarget = 20000;
    run(20000, 1, ddCall, ddDrain);
    run(20000, 1, spCall, spDrain);

    std::printf("%zu lines of LogI(\"Got message: %%s\", <40 characters>) into one counting logger\n", lines);
    std::printf("clock overhead per sample (two steady_clock reads): %.0f ns, included in every latency\n\n",
                clockOverheadNs());
    std::printf("%-8s %9s %9s %9s %9s %10s %12s\n", "", "producers", "p50 ns", "p99 ns", "p99.9 ns", "max ns",
                "lines/s");
    std::string ratios;
    const auto addRatio = [&](const char* name, int producers, double value) {
        ratios += "ratio " + std::string(name) + "_" + std::to_string(producers) + "p " +
                  std::to_string(value) + "\n";
    };
    for (int producers : {1, 2}) {
        const std::uint64_t ddBefore = counting->count.load();
        const Result dd = run(lines, producers, ddCall, ddDrain);
        const std::uint64_t ddCounted = counting->count.load() - ddBefore;
        spTarget = sink->count.load() + (lines / producers) * producers;
        const Result sp = run(lines, producers, spCall, spDrain);
        printRow("ours", producers, dd);
        printRow("spdlog", producers, sp);
        printRatios(producers, dd, sp);
        addRatio("throughput", producers, dd.linesPerSecond / sp.linesPerSecond);
        addRatio("latency_p50", producers, sp.p50 / dd.p50);
        addRatio("latency_p99", producers, sp.p99 / dd.p99);
        addRatio("latency_p999", producers, sp.p999 / dd.p999);
        if (ddCounted != (lines / producers) * producers) {
            std::printf("!! the counting logger saw %llu lines\n",
                        static_cast<unsigned long long>(ddCounted));
        }
    }
    spdlog::shutdown();
    // Last, for scripts: ours against spdlog, higher is better (latencies as spdlog's / ours).
    std::printf("\n%s", ratios.c_str());
    return 0;
}

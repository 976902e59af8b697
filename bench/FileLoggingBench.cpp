// File logging throughput and caller latency: the standard workload (LogI lines from one and two producers)
// through the file logger unbuffered and buffered, against spdlog's asynchronous logger with a basic file
// sink, and the physical limit of write(2) on this machine (one call per line, one per 4 KiB). Each case runs
// in its own child process so that its peak RSS is its own. Prints figures and ratios; never fails.
//
// Usage: file_logging_bench [lines per run, default 1000000] [ours-buffered | ours-unbuffered]
// (the second argument runs only that case, one producer, in this process: for profiling)

#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "helper/logging.h"
#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/extensions/DDBufferedProxy.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    double linesPerSecond = 0;
    double p50 = 0, p99 = 0, p999 = 0;  // caller latency, ns
    long peakRssKb = 0;
};

// Runs `producer(i, count)` on `threads` threads, each timing its own calls; `finish` waits for the sink.
template <typename Producer, typename Finish>
Result measure(long lines, int threads, Producer producer, Finish finish) {
    std::vector<std::vector<std::uint32_t>> latencies(threads);
    const long perThread = lines / threads;
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            auto& mine = latencies[t];
            mine.reserve(perThread);
            for (long i = 0; i < perThread; ++i) {
                const auto before = Clock::now();
                producer(i);
                mine.push_back(
                    static_cast<std::uint32_t>(std::min<long>((Clock::now() - before).count(), 0xffffffffL)));
            }
        });
    }
    for (auto& w : workers) w.join();
    finish();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<std::uint32_t> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    Result r;
    r.linesPerSecond = static_cast<double>(perThread * threads) / seconds;
    if (!all.empty()) {
        r.p50 = all[all.size() / 2];
        r.p99 = all[all.size() * 99 / 100];
        r.p999 = all[all.size() * 999 / 1000];
    }
    return r;
}

std::string freshDir(const std::string& name) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("ddbench-" + std::to_string(getpid()) + "-" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

const char* kText = "Selection event sent to client, length %d, window %s";

Result runFileLogger(long lines, int threads, bool buffered) {
    const std::string dir = freshDir("dd");
    auto manager = std::make_shared<DDLogFileManagerDefault>(dir);
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    auto logger = DDFileLogger::create(manager);
    logger->setMaximumFileSize(0);
    logger->setRollingFrequency(0);
    std::shared_ptr<DDLogger> registered = logger;
    if (buffered) registered = wrapWithBuffer(logger);
    DDLog::sharedInstance().addLogger(registered);
    Result r = measure(
        lines, threads, [](long i) { LogI(kText, static_cast<int>(i), "xterm"); },
        [] { DDLog::sharedInstance().flushLog(); });
    DDLog::sharedInstance().removeLogger(registered);
    std::filesystem::remove_all(dir);
    return r;
}

Result runSpdlog(long lines, int threads, bool flushEachLine) {
    const std::string dir = freshDir("spd");
    spdlog::init_thread_pool(8192, 1);
    auto log = spdlog::basic_logger_mt<spdlog::async_factory>("bench", dir + "/spd.log");
    log->set_pattern("%Y/%m/%d %H:%M:%S:%e  %v");
    if (flushEachLine) log->flush_on(spdlog::level::info);
    Result r = measure(
        lines, threads,
        [&](long i) { log->info("[INFO] Selection event sent to client, length {}, window {}", i, "xterm"); },
        [&] {
            log->flush();
            spdlog::shutdown();  // joins the pool: every line is written
        });
    std::filesystem::remove_all(dir);
    return r;
}

Result runWriteLimit(long lines, bool perLine) {
    const std::string dir = freshDir("raw");
    const int fd = ::open((dir + "/raw.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const std::string line =
        "2026/12/06 03:26:14:123  [INFO] Selection event sent to client, length 123456, window xterm\n";
    std::string block;
    Result r = measure(
        lines, 1,
        [&](long) {
            if (perLine) {
                (void)!::write(fd, line.data(), line.size());
                return;
            }
            block += line;
            if (block.size() >= 4096) {
                (void)!::write(fd, block.data(), block.size());
                block.clear();
            }
        },
        [&] {
            if (!block.empty()) (void)!::write(fd, block.data(), block.size());
        });
    ::close(fd);
    std::filesystem::remove_all(dir);
    return r;
}

// Runs one case in a child process and reads its result back through a pipe.
template <typename Case>
Result inChild(Case run) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        Result r = run();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        r.peakRssKb = usage.ru_maxrss;
        (void)!::write(fds[1], &r, sizeof r);
        ::_exit(0);
    }
    ::close(fds[1]);
    Result r;
    if (::read(fds[0], &r, sizeof r) != sizeof r) r = {};
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return r;
}

void print(const char* name, const Result& r, double reference) {
    std::printf(
        "%-44s %12.0f lines/s  p50 %7.0f ns  p99 %8.0f ns  p99.9 %9.0f ns  peak RSS %7ld KiB  ratio %.2f\n",
        name, r.linesPerSecond, r.p50, r.p99, r.p999, r.peakRssKb,
        reference > 0 ? r.linesPerSecond / reference : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (argc > 2) {
        const std::string only = argv[2];
        print(only.c_str(), runFileLogger(lines, 1, only == "ours-buffered"), 0);
        return 0;
    }
    std::printf("file logging, %ld lines per run (ratios against the row named in brackets)\n", lines);
    const Result perLine = inChild([&] { return runWriteLimit(lines, true); });
    const Result perBlock = inChild([&] { return runWriteLimit(lines, false); });
    print("write(2) per line [limit]", perLine, perLine.linesPerSecond);
    print("write(2) per 4 KiB [limit]", perBlock, perBlock.linesPerSecond);
    std::string ratios;
    const auto addRatio = [&](const char* name, int threads, double value) {
        ratios += "ratio " + std::string(name) + "_" + std::to_string(threads) + "p " +
                  std::to_string(value) + "\n";
    };
    for (int threads : {1, 2}) {
        std::printf("-- %d producer%s\n", threads, threads > 1 ? "s" : "");
        const Result spdFlush = inChild([&] { return runSpdlog(lines, threads, true); });
        const Result ddPlain = inChild([&] { return runFileLogger(lines, threads, false); });
        const Result spdBuffered = inChild([&] { return runSpdlog(lines, threads, false); });
        const Result ddBuffered = inChild([&] { return runFileLogger(lines, threads, true); });
        print("spdlog async, flush per line [write/line]", spdFlush, perLine.linesPerSecond);
        print("DDFileLogger unbuffered [write/line]", ddPlain, perLine.linesPerSecond);
        print("  vs spdlog flush per line", ddPlain, spdFlush.linesPerSecond);
        print("spdlog async, default buffering [4 KiB]", spdBuffered, perBlock.linesPerSecond);
        print("DDFileLogger buffered [write/4 KiB]", ddBuffered, perBlock.linesPerSecond);
        print("  vs spdlog default buffering", ddBuffered, spdBuffered.linesPerSecond);
        addRatio("unbuffered_throughput", threads, ddPlain.linesPerSecond / spdFlush.linesPerSecond);
        addRatio("buffered_throughput", threads, ddBuffered.linesPerSecond / spdBuffered.linesPerSecond);
        addRatio("unbuffered_peak_rss", threads,
                 static_cast<double>(spdFlush.peakRssKb) / static_cast<double>(ddPlain.peakRssKb));
        addRatio("buffered_peak_rss", threads,
                 static_cast<double>(spdBuffered.peakRssKb) / static_cast<double>(ddBuffered.peakRssKb));
    }
    // Last, for scripts: ours against spdlog, higher is better (peak RSS as spdlog's / ours).
    std::printf("\n%s", ratios.c_str());
    return 0;
}

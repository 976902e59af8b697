// Terminal logging throughput with colours on: the standard line (LogI("Got message: %s", <40 characters>))
// through the terminal logger, against spdlog's colour standard-error sink writing the same line (same
// layout, same colour sequences), with standard error on /dev/null and on a pipe that another thread drains.
// spdlog runs both behind its asynchronous logger (the caller returns before the write, as with ours) and
// synchronously (the sink's own rate). Each figure is the best of three runs; lines per second count from
// the first call until the last line has been written.
//
// Usage: tty_logging_bench [lines per run, default 200000]
// Ends with one "ratio <name> <ours/peer>" line per comparison (higher is better).

#include <fcntl.h>
#include <unistd.h>

#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "helper/logging.h"
#include "logging/DDLog.h"
#include "logging/extensions/DDTTYLogger.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kText = "0123456789abcdefghijklmnopqrstuvwxyzABCD";  // 40 characters

// Standard error goes to /dev/null or to a pipe drained by a thread, until destroyed.
class StderrTarget {
  public:
    explicit StderrTarget(bool pipe) : saved_(::dup(STDERR_FILENO)) {
        std::fflush(stderr);
        if (pipe) {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) std::abort();
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[1]);
            drain_ = std::thread([fd = fds[0]] {
                static char buffer[1 << 16];
                while (::read(fd, buffer, sizeof buffer) > 0) {
                }
                ::close(fd);
            });
        } else {
            const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    ~StderrTarget() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);  // closes the pipe's last writer: the drain sees its end
        ::close(saved_);
        if (drain_.joinable()) drain_.join();
    }

  private:
    int saved_;
    std::thread drain_;
};

// Lines per second of `run(lines)`, which returns once every line is written; best of three.
double best(std::size_t lines, bool pipe, const std::function<void(std::size_t)>& run) {
    double fastest = 0;
    for (int round = 0; round < 3; ++round) {
        StderrTarget target(pipe);
        const auto start = Clock::now();
        run(lines);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        fastest = std::max(fastest, static_cast<double>(lines) / seconds);
    }
    return fastest;
}

void ours(std::size_t lines) {
    for (std::size_t i = 0; i < lines; ++i) LogI("Got message: %s", kText);
    DDLog::sharedInstance().flushLog();
}

std::shared_ptr<spdlog::sinks::ansicolor_stderr_sink_mt> colourSink() {
    auto sink = std::make_shared<spdlog::sinks::ansicolor_stderr_sink_mt>(spdlog::color_mode::always);
    sink->set_pattern("%^%Y-%m-%d %H:%M:%S:%e tty_logging_bench[%P:%t] %v%$");
    return sink;
}

void spdlogAsync(std::size_t lines) {
    auto pool = std::make_shared<spdlog::details::thread_pool>(8192, 1);
    auto logger = std::make_shared<spdlog::async_logger>("async", colourSink(), pool,
                                                         spdlog::async_overflow_policy::block);
    for (std::size_t i = 0; i < lines; ++i) logger->info("[INFO] Got message: {}", kText);
    logger.reset();
    pool.reset();  // drains the queue, then joins the worker
}

void spdlogSync(std::size_t lines) {
    spdlog::logger logger("sync", colourSink());
    for (std::size_t i = 0; i < lines; ++i) logger.info("[INFO] Got message: {}", kText);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t lines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;

    // 16-colour mode; info lines in the palette's green, which is the sequence spdlog uses for info.
    ::setenv("TERM", "xterm-color", 1);
    ::unsetenv("NO_COLOR");
    ::unsetenv("XcodeColors");
    auto logger = DDTTYLogger::create();
    logger->setColorsEnabled(true);
    logger->setForegroundColor(CLIColor::colorWithCalibratedRed(37 / 255.0, 188 / 255.0, 36 / 255.0, 1),
                               std::nullopt, LogFlag::Info);
    DDLog::sharedInstance().addLogger(logger);

    std::printf("%zu coloured lines per run, best of 3\n", lines);
    struct Row {
        const char* name;
        bool pipe;
    };
    std::vector<std::string> ratios;
    for (const Row& row : {Row{"devnull", false}, Row{"pipe", true}}) {
        const double dd = best(lines, row.pipe, ours);
        const double async = best(lines, row.pipe, spdlogAsync);
        const double sync = best(lines, row.pipe, spdlogSync);
        std::printf("%-8s ours %10.0f lines/s   spdlog async %10.0f lines/s   spdlog sync %10.0f lines/s\n",
                    row.name, dd, async, sync);
        char line[128];
        std::snprintf(line, sizeof line, "ratio tty_%s_vs_spdlog_async %.2f", row.name, dd / async);
        ratios.emplace_back(line);
        std::snprintf(line, sizeof line, "ratio tty_%s_vs_spdlog_sync %.2f", row.name, dd / sync);
        ratios.emplace_back(line);
    }
    for (const auto& line : ratios) std::printf("%s\n", line.c_str());
    return 0;
}

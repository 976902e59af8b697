// The terminal logger on real terminals and pipes. The colour mode is fixed once per process, so each mode
// runs in a child process (tty_logger_child) with that mode's environment; the profile rules run in this
// process in 256-colour mode.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/extensions/DDTTYLogger.h"

namespace {

enum class Sink { Terminal, Pipe };

// Standard error of this process, and of the children it starts meanwhile, goes to `sink` until `finish`,
// which restores it and returns every byte written: the reading ends once no writing side is left (EOF on a
// pipe, EIO on a terminal). The terminal is raw, so that the bytes read are the bytes written.
class StderrCapture {
  public:
    explicit StderrCapture(Sink sink) : saved_(::dup(STDERR_FILENO)) {
        termios raw{};
        cfmakeraw(&raw);
        int fds[2] = {-1, -1};
        EXPECT_EQ(sink == Sink::Terminal ? ::openpty(&fds[0], &fds[1], nullptr, &raw, nullptr) : ::pipe(fds),
                  0);
        reader_ = fds[0];
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[1]);
        reading_ = std::thread([this] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(reader_, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
                bytes_.append(buffer, std::max<ssize_t>(n, 0));
        });
    }
    ~StderrCapture() { finish(); }
    std::string finish() {
        if (saved_ < 0) return bytes_;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
        reading_.join();
        ::close(reader_);
        return bytes_;
    }

  private:
    int saved_, reader_ = -1;
    std::thread reading_;
    std::string bytes_;
};

TEST(DDTTYLoggerModeTest, ColourModeComesFromTheEnvironmentAndEveryLineIsWrittenWhole) {
    struct Mode {
        const char* name;
        Sink sink;
        const char* environment;                    // the child's whole environment, with TZ=UTC
        const char *error, *warning, *red, *reset;  // the sequences, "" for none
    };
    const char* end = "\033[0m";
    // clang-format off
    const Mode modes[] = {
        {"256", Sink::Terminal, "TERM=xterm-256color", "\033[38;5;124m", "\033[38;5;130m", "\033[38;5;160m", end},
        {"16, empty NO_COLOR", Sink::Pipe, "TERM=XTERM-COLOR NO_COLOR=", "\033[31m", "\033[33m", "\033[1;31m",
         end},
        {"RGB", Sink::Terminal, "XcodeColors=YES TERM=dumb", "\033[fg214,57,30;", "\033[fg204,121,32;",
         "\033[fg255,0,0;", "\033[;"},
        {"NO_COLOR", Sink::Pipe, "TERM=xterm-256color NO_COLOR=1", "", "", "", ""},
        {"dumb", Sink::Terminal, "TERM=dumb XcodeColors=yes", "", "", "", ""},
        {"no TERM", Sink::Pipe, "", "", "", "", ""},
    };
    // clang-format on
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        StderrCapture capture(mode.sink);
        const int status =
            std::system(("env -i TZ=UTC " + std::string(mode.environment) + " " TTY_LOGGER_CHILD).c_str());
        const std::string bytes = capture.finish();
        EXPECT_EQ(status, 0);  // 1: a second terminal logger was made

        // The logger's one-line note about the journal logger comes first. The lines show the child's process
        // and thread number, the same number for its main thread.
        const auto note = bytes.find("DDTTYLogger: ");
        ASSERT_NE(note, std::string::npos) << bytes;
        const std::string lines = std::regex_replace(bytes.substr(bytes.find('\n', note) + 1),
                                                     std::regex(R"(\[(\d+):\1\] )"), "[id] ");
        const std::string line = "2026-03-04 05:06:07:089 tty_logger_child[id] ";
        EXPECT_EQ(lines, mode.error + line + "E\n" + mode.reset + mode.warning + line + "W\n" + mode.reset +
                             line + "I\n" + mode.red + line + "D\n" + mode.reset);
    }
}

// In this process: 256-colour mode, fixed before the first terminal logger is made.
class DDTTYLoggerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("TERM", "xterm-256color", 1);
        ::unsetenv("NO_COLOR");
        ::unsetenv("XcodeColors");
    }
    void SetUp() override {
        logger = DDTTYLogger::create();
        ASSERT_NE(logger, nullptr);
        DDLog::sharedInstance().addLogger(logger);
    }
    void TearDown() override { DDLog::sharedInstance().removeLogger(logger); }

    static CLIColor entry(int r, int g, int b) {
        return CLIColor::colorWithCalibratedRed(r / 255.0, g / 255.0, b / 255.0, 1);
    }
    static void log(const std::string& text, std::uint64_t flag, std::int64_t context = 0,
                    DDTag tag = nullptr) {
        DDLog::sharedInstance().log(
            false, std::make_shared<const DDLogMessage>(text, LogLevel::All, flag, context, "t.cpp", "f", 1,
                                                        std::move(tag), 0, std::nullopt));
    }

    std::shared_ptr<DDTTYLogger> logger;
};

// Changes the text, so that a line is just the colour sequences around it.
class Rewriting : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        return std::make_shared<const std::string>("~" + message.message());
    }
};

TEST_F(DDTTYLoggerTest, ProfilesByTagThenExactContextThenEveryContextReplacedAndRemoved) {
    const CLIColor green = entry(27, 254, 30), blue = entry(81, 50, 253), yellow = entry(251, 252, 15),
                   grey = entry(92, 93, 94);
    const auto tag = std::make_shared<int>(1);
    logger->setLogFormatter(std::make_shared<Rewriting>());
    logger->setForegroundColor(green, std::nullopt, LogFlag::Info, 5);
    logger->setForegroundColor(blue, grey, LogFlag::Info | LogFlag::Debug);
    logger->setForegroundColor(yellow, std::nullopt, tag);
    logger->setColorsEnabled(true);
    StderrCapture capture(Sink::Terminal);
    log("ctx5", LogFlag::Info, 5);
    log("ctx6", LogFlag::Info, 6);
    log("tagged", LogFlag::Info, 5, tag);
    log("other tag", LogFlag::Info, 6, std::make_shared<int>(2));
    log("error", LogFlag::Error);  // uncoloured: profiles existed, so enabling loaded no defaults

    logger->setForegroundColor(grey, std::nullopt, LogFlag::Info,
                               5);                               // replaces the context-5 profile in place
    logger->clearColorsForFlag(LogFlag::Info | LogFlag::Debug);  // context 0: the every-context one stays
    log("ctx5 replaced", LogFlag::Info, 5);
    log("debug", LogFlag::Debug);
    logger->clearColorsForFlag(LogFlag::Info | LogFlag::Debug, LogContextAll);
    logger->clearColorsForTag(tag);
    log("tag cleared", LogFlag::Info, 5, tag);
    log("debug cleared", LogFlag::Debug);

    logger->clearAllColors();
    logger->setColorsEnabled(false);
    logger->setColorsEnabled(true);  // the list is empty again: the defaults come back
    log("warning", LogFlag::Warning);
    logger->setColorsEnabled(false);
    log("off", LogFlag::Error);
    logger->setAutomaticallyAppendNewlineForCustomFormatters(false);
    log("bare", LogFlag::Info);
    logger->setAutomaticallyAppendNewlineForCustomFormatters(true);
    log("ends\n", LogFlag::Info);  // a custom line that ends with a newline gets no second one
    const std::string bytes = capture.finish();

    const std::string end = "\033[0m", blueOnGrey = "\033[38;5;20m\033[48;5;237m";
    const std::string expected = "\033[38;5;46m~ctx5\n" + end + blueOnGrey + "~ctx6\n" + end +
                                 "\033[38;5;226m~tagged\n" + end + blueOnGrey + "~other tag\n" + end +
                                 "~error\n"  // profiles existed: no defaults were loaded
                                 "\033[38;5;237m~ctx5 replaced\n" +
                                 end + blueOnGrey + "~debug\n" + end + "\033[38;5;237m~tag cleared\n" + end +
                                 "~debug cleared\n\033[38;5;130m~warning\n" + end + "~off\n~bare~ends\n";
    EXPECT_EQ(bytes, expected);
}

// Several writers on one terminal: four threads logging through two terminal loggers, each with its own
// queue, so that two writes of whole lines race at every moment. Also a non-blocking descriptor that fills up
// under a line much longer than its buffer: the rest of the line follows once the reader has made room.
TEST_F(DDTTYLoggerTest, ConcurrentLinesFromFourThreadsNeverTear) {
    auto second = DDTTYLogger::create();
    ASSERT_NE(second, nullptr);
    DDLog::sharedInstance().addLogger(second);
    logger->setColorsEnabled(true);
    constexpr int kThreads = 4, kLines = 300;
    StderrCapture capture(Sink::Terminal);  // the harsher sink: a pipe takes each short write whole
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                DDLog::sharedInstance().log(
                    true,
                    "thread " + std::to_string(t) + " line " + std::to_string(i) + std::string(200, 'x'),
                    LogLevel::All, i % 2 ? LogFlag::Error : LogFlag::Info, 0, "t.cpp", "f", 1, nullptr);
        });
    }
    for (auto& thread : threads) thread.join();
    DDLog::sharedInstance().flushLog();
    const std::string bytes = capture.finish();

    // Whole lines only, an error line with its colour around it (the reset follows the newline).
    const std::regex whole(
        R"((\x1b\[38;5;124m)?\S+ \S+ [^ \[]+\[\d+:\d+\] thread \d line \d+x{200}\n(\x1b\[0m)?)");
    std::ptrdiff_t at = 0;
    std::size_t lines = 0;
    for (std::sregex_iterator it(bytes.begin(), bytes.end(), whole), end; it != end && it->position() == at;
         ++it, ++lines)
        at += it->length();
    EXPECT_EQ(static_cast<std::size_t>(at), bytes.size()) << bytes.substr(at, 600);
    EXPECT_EQ(lines, 2u * kThreads * kLines);
    DDLog::sharedInstance().removeLogger(second);

    StderrCapture small(Sink::Pipe);
    ASSERT_EQ(::fcntl(STDERR_FILENO, F_SETPIPE_SZ, 4096), 4096);
    ASSERT_EQ(::fcntl(STDERR_FILENO, F_SETFL, O_NONBLOCK), 0);
    logger->setLogFormatter(std::make_shared<Rewriting>());
    const std::string longText(100000, 'y');
    log(longText, LogFlag::Info);
    EXPECT_EQ(small.finish(), "~" + longText + "\n");
}

}  // namespace

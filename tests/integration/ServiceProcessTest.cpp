// The tandrel-helper program as a whole process: exit status when its socket is taken, ending on SIGTERM and
// SIGINT, the log file in /tmp and the same lines in the journal.
//
// Run under journal-harness.sh (CTest does). With the private journald (root, own mount namespace) /tmp is
// replaced by a private tmpfs as well, so the helper's log file is this test's alone; without it the tests
// that read the log file or the journal are skipped with the harness's reason, and the others run against
// the real /tmp.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "JournalHarness.h"
#include "dispatch/RunLoop.h"
#include "xpc/Connection.h"
#include "xpc/Listener.h"
#include "xpc/internal/ChannelTestSupport.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using xpc::Object;
using xpc::testing::Recorder;
using xpc::testing::runUntil;

constexpr const char* kServiceName = "com.tandrel.helper";

// True once a private /tmp is mounted for this process's namespace.
bool privateTmp = false;
// The helper binary to start. The build tree may itself lie under /tmp, which the private /tmp hides, so
// inside the harness the binary is first copied to the namespace's private /run.
std::string helperPath = TANDREL_HELPER_PATH;

// The helper as a child process, killed if a test leaves it running.
class HelperProcess {
  public:
    // Started with the test's environment minus DISPLAY and WAYLAND_DISPLAY (so no desktop is used) plus
    // `environment`, with `arguments`; standard output and error go to `out` and `err` when given.
    explicit HelperProcess(std::vector<std::string> arguments = {}, std::vector<std::string> environment = {},
                           int out = -1, int err = -1) {
        std::vector<std::string> variables = std::move(environment);
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view variable(*entry);
            if (variable.rfind("DISPLAY=", 0) != 0 && variable.rfind("WAYLAND_DISPLAY=", 0) != 0)
                variables.emplace_back(*entry);
        }
        std::vector<char*> envp;
        for (auto& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
        arguments.insert(arguments.begin(), helperPath);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
        if (posix_spawn(&pid_, helperPath.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~HelperProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    void signal(int number) const { ::kill(pid_, number); }
    // The wait status once the process has ended (nullopt after `limit`).
    std::optional<int> wait(std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!status_ && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = status;
            } else {
                std::this_thread::sleep_for(5ms);
            }
        }
        return status_;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A client of the running helper; connects as soon as the helper serves its socket.
struct Client {
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<xpc::Connection> connection;

    // Retries until an answer to "IsPermissionGranted" arrives (the helper may still be starting).
    bool connect(std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            recorder = std::make_shared<Recorder>();
            connection = xpc::testing::connectRecording(kServiceName, recorder);
            connection->send(xpc::testing::message("IsPermissionGranted"));
            runUntil([&] { return recorder->messages() > 0 || !recorder->events.empty(); }, 2s);
            if (recorder->messages() > 0) return true;
            connection->cancel();
            xpc::testing::settle(20ms);
        }
        return false;
    }
    // The JSON text of the `index`th message received.
    std::string data(std::size_t index) const {
        std::size_t seen = 0;
        for (const auto& event : recorder->events) {
            if (!event.isDictionary()) continue;
            if (seen++ == index) {
                const auto* bytes = event.getData("data");
                return bytes ? std::string(bytes->begin(), bytes->end()) : "<no data>";
            }
        }
        return "<none>";
    }
};

// Everything written to `fd` until its last writer closes it (EOF on a pipe, EIO on a terminal).
std::string readAll(int fd) {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

// The helper's log files in /tmp.
std::vector<std::filesystem::path> logFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
        const std::string name = entry.path().filename();
        if (name.rfind(std::string(kServiceName) + " ", 0) == 0 && entry.path().extension() == ".log") {
            files.push_back(entry.path());
        }
    }
    return files;
}

// The texts of a log file's lines, without their time stamps ("<stamp>  <text>").
std::vector<std::string> logTexts(const std::filesystem::path& file) {
    std::vector<std::string> texts;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const auto gap = line.find("  ");
        texts.push_back(gap == std::string::npos ? line : line.substr(gap + 2));
    }
    return texts;
}

class ServiceProcessTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (journal_harness::unavailableReason()) return;
        const std::filesystem::path copy = "/run/tandrel-service-test/tandrel-helper";
        std::error_code error;
        std::filesystem::create_directories(copy.parent_path(), error);
        if (!error && std::filesystem::copy_file(TANDREL_HELPER_PATH, copy,
                                                 std::filesystem::copy_options::overwrite_existing, error)) {
            helperPath = copy.string();
        }
        // Inside the harness's private mount namespace: the helper's fixed log directory becomes ours alone.
        privateTmp = ::mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
    }
    void SetUp() override {
        // Files of an earlier test would be taken up again: each test starts with none.
        if (privateTmp) {
            for (const auto& file : logFiles()) std::filesystem::remove(file);
        }
        runtime_ = std::make_unique<xpc::testing::RuntimeDirectory>();
    }
    void TearDown() override { runtime_.reset(); }

    std::unique_ptr<xpc::testing::RuntimeDirectory> runtime_;
};

#define REQUIRE_PRIVATE_TMP()                                                                    \
    do {                                                                                         \
        JOURNAL_HARNESS_REQUIRED();                                                              \
        if (!privateTmp) GTEST_SKIP() << "cannot mount a private /tmp in the harness namespace"; \
    } while (false)

TEST_F(ServiceProcessTest, ExitsWithStatusOneWhenItsSocketIsAlreadyServed) {
    auto holder = xpc::Listener::create(kServiceName);
    ASSERT_NE(holder, nullptr);
    holder->resume();

    HelperProcess helper;
    ASSERT_GT(helper.pid(), 0);
    const auto status = helper.wait();
    ASSERT_TRUE(status.has_value()) << "the helper did not exit";
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
}

TEST_F(ServiceProcessTest, AnswersWithoutADesktopAndEndsCleanlyOnSigtermAndSigint) {
    for (int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(number));
        HelperProcess helper;
        ASSERT_GT(helper.pid(), 0);
        Client client;
        ASSERT_TRUE(client.connect()) << "the helper never answered";
        EXPECT_EQ(client.data(0), R"({"result":false,"type":"IsPermissionGranted"})");
        client.connection->send(xpc::testing::message("SelectedText"));
        ASSERT_TRUE(runUntil([&] { return client.recorder->messages() >= 2; }));
        EXPECT_EQ(client.data(1), R"({"content":"","type":"SelectedText"})");

        helper.signal(number);
        const auto status = helper.wait();
        ASSERT_TRUE(status.has_value()) << "the helper did not exit";
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by a signal";
        EXPECT_EQ(WEXITSTATUS(*status), 0);
        EXPECT_TRUE(runUntil([&] { return client.recorder->has(xpc::ErrorCode::ConnectionInterrupted); }));
        client.connection->cancel();
        xpc::testing::settle(20ms);
        // Neither the socket nor its lock stays behind: a client started now hears "not running".
        EXPECT_TRUE(std::filesystem::is_empty(runtime_->path()))
            << std::filesystem::directory_iterator(runtime_->path())->path();

        if (!privateTmp) continue;
        // Flushed before the exit: the warning logged in reaction to the signal is in the file.
        const auto files = logFiles();
        ASSERT_EQ(files.size(), 1u);
        const auto texts = logTexts(files[0]);
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), "[WARN] Got XPC_ERROR_TERMINATION_IMMINENT");
        EXPECT_NE(std::find(texts.begin(), texts.end(), "[INFO] Got message: SelectedText"), texts.end());
    }
}

TEST_F(ServiceProcessTest, LogFileIsPrivateAndTheJournalGetsTheSameLines) {
    REQUIRE_PRIVATE_TMP();
    auto holder = xpc::Listener::create(kServiceName);
    ASSERT_NE(holder, nullptr);
    holder->resume();
    HelperProcess helper;
    ASSERT_GT(helper.pid(), 0);
    const auto status = helper.wait();
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 1);

    const auto files = logFiles();
    ASSERT_EQ(files.size(), 1u) << "one log file directly in /tmp";
    struct stat info {};
    ASSERT_EQ(::lstat(files[0].c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    const auto texts = logTexts(files[0]);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "[ERROR] Failed to create XPC mach service.");

    const std::string pid = std::to_string(helper.pid());
    auto records = journal_harness::waitForRecords(
        [&](const journal_harness::Fields& fields) {
            return journal_harness::get(fields, "_PID") == pid &&
                   journal_harness::get(fields, "SUBSYSTEM") == kServiceName &&
                   journal_harness::get(fields, "CATEGORY") == "tandrel";
        },
        texts.size());
    std::vector<std::string> messages;
    for (const auto& record : records) messages.push_back(journal_harness::get(record, "MESSAGE"));
    EXPECT_EQ(messages, texts);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(journal_harness::get(records.back(), "PRIORITY"), "3");
}

// Options that only answer: none of them serves the socket.
TEST_F(ServiceProcessTest, HelpVersionAndUnknownOptionsAnswerWithoutStartingTheService) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out, errFirstLine;
    };
    const std::string usageStart = "Usage: tandrel-helper [--log-to-terminal]\n";
    const Case cases[] = {
        {{"--help"}, 0, usageStart, ""},
        {{"--log-to-terminal", "-h"}, 0, usageStart, ""},
        {{"--version"}, 0, "tandrel-helper " TANDREL_VERSION "\n", ""},
        {{"--bogus"}, 2, "", "tandrel-helper: unknown option --bogus\n"},
        {{"stray"}, 2, "", "tandrel-helper: unexpected argument stray\n"},
    };
    std::string usage;  // what --help printed, the first case
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        int out[2], err[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
        HelperProcess helper(c.arguments, {}, out[1], err[1]);
        ::close(out[1]);
        ::close(err[1]);
        std::string errText;
        std::thread errReader([&] { errText = readAll(err[0]); });
        const std::string outText = readAll(out[0]);
        errReader.join();
        const auto status = helper.wait();
        ASSERT_TRUE(status.has_value()) << "the helper kept running";
        ASSERT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), c.status);
        if (c.status == 0) {
            EXPECT_EQ(outText.rfind(c.out, 0), 0u) << outText;
            EXPECT_EQ(errText, "");
            if (usage.empty()) usage = outText;
        } else {
            EXPECT_EQ(outText, "");
            EXPECT_EQ(errText, c.errFirstLine + usage);
        }
        EXPECT_FALSE(std::filesystem::exists(runtime_->socketPath(kServiceName)));
    }
}

// The log lines on the helper's standard error, after the configured loggers, the warning in its colour.
TEST_F(ServiceProcessTest, LogToTerminalShowsTheLogLinesInColour) {
    // A pipe: the colour mode follows TERM alone (the harness's private /dev may offer no pseudo-terminals).
    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    const int terminal = err[0];
    HelperProcess helper({"--log-to-terminal"}, {"TERM=xterm-256color", "NO_COLOR="}, -1, err[1]);
    ::close(err[1]);
    ASSERT_GT(helper.pid(), 0);
    std::string bytes;
    std::thread reader([&] { bytes = readAll(terminal); });
    Client client;
    const bool answered = client.connect();
    helper.signal(SIGTERM);
    const auto status = helper.wait();
    reader.join();
    ASSERT_TRUE(answered) << bytes;
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << bytes;
    client.connection->cancel();

    const std::string line = R"([^\n]* tandrel-helper\[)" + std::to_string(helper.pid()) + R"(:\d+\] )";
    EXPECT_TRUE(std::regex_search(bytes, std::regex("\x1b\\[38;5;130m" + line +
                                                    R"(\[WARN\] No usable desktop \(DISPLAY is not set; WAYLAND_DISPLAY is not set\): )"
                                                    "answering without one\n\x1b\\[0m")))
        << bytes;
    EXPECT_TRUE(
        std::regex_search(bytes, std::regex("\n" + line + R"(\[INFO\] Got message: IsPermissionGranted\n)")))
        << bytes;
}

}  // namespace

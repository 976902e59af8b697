// The tandrel-helper program as a whole process: exit status, signals, options, its log file in /tmp and the
// same lines in the journal. Run under journal-harness.sh (CTest does): with its private journald (root, own
// mount namespace) /tmp is a private tmpfs too; without it the log and journal checks are skipped.

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "JournalHarness.h"
#include "helper/testing/HelperSession.h"
#include "platform/x11/internal/testing/ChildProcess.h"
#include "xpc/Listener.h"
#include "xpc/internal/ChannelTestSupport.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::HelperClient;
using helper::testing::HelperMessage;
using x11::testing::ChildProcess;

constexpr const char* kServiceName = "com.tandrel.helper";

bool privateTmp = false;  // mounted for this process's namespace
// The helper binary to start. The build tree may itself lie under /tmp, which the private /tmp hides, so
// inside the harness the binary is first copied to the namespace's private /run.
std::string helperPath = TANDREL_HELPER_PATH;

// The helper run to its end without a desktop (DISPLAY and WAYLAND_DISPLAY empty count as unset), with
// `arguments` and `environment`: its PID (given to `whileRunning` too), exit status and output.
struct Ended {
    pid_t pid = -1;
    int status = -1;
    std::string out, err;
};
Ended runHelper(std::vector<std::string> arguments = {}, std::vector<std::string> environment = {},
                const std::function<void(pid_t)>& whileRunning = {}) {
    Ended run;
    const std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
    if (!err) return run;
    ChildProcess::Options options;
    options.env = {"DISPLAY=", "WAYLAND_DISPLAY="};
    options.env.insert(options.env.end(), environment.begin(), environment.end());
    options.captureStdout = true;
    options.stderrFd = ::fileno(err.get());
    arguments.insert(arguments.begin(), helperPath);
    if (auto helper = ChildProcess::start(arguments, options)) {
        run.pid = helper->pid();
        if (whileRunning) whileRunning(run.pid);
        run.out = helper->readOutput();
        run.status = helper->waitExit(10s);
    }  // a helper that did not end is killed here
    std::rewind(err.get());
    for (int c; (c = std::fgetc(err.get())) != EOF;) run.err += static_cast<char>(c);
    return run;
}

// The texts of the lines of the helper's one log file in /tmp, a private regular file, without their time
// stamps ("<stamp>  <text>"). The file is then removed: the next run must not take it up again.
std::vector<std::string> logTexts() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
        const std::string name = entry.path().filename();
        if (name.rfind(std::string(kServiceName) + " ", 0) == 0 && entry.path().extension() == ".log")
            files.push_back(entry.path());
    }
    EXPECT_EQ(files.size(), 1u) << "one log file directly in /tmp";
    std::vector<std::string> texts;
    if (files.size() != 1) return texts;
    struct stat info {};
    EXPECT_EQ(::lstat(files[0].c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    std::ifstream in(files[0]);
    for (std::string line; std::getline(in, line);) {
        const auto gap = line.find("  ");
        texts.push_back(gap == std::string::npos ? line : line.substr(gap + 2));
    }
    std::filesystem::remove(files[0]);
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
    void skipWithoutPrivateTmp() {
        JOURNAL_HARNESS_REQUIRED();
        if (!privateTmp) GTEST_SKIP() << "cannot mount a private /tmp in the harness namespace";
    }

    xpc::testing::RuntimeDirectory runtime_;
};

TEST_F(ServiceProcessTest, ExitsWithStatusOneWhenItsSocketIsAlreadyServedAndLogsWhyPrivatelyAndToTheJournal) {
    auto holder = xpc::Listener::create(kServiceName);
    ASSERT_NE(holder, nullptr);
    holder->resume();
    const Ended run = runHelper();
    EXPECT_EQ(run.status, 1);

    skipWithoutPrivateTmp();
    if (IsSkipped()) return;
    const auto texts = logTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "[ERROR] Failed to create XPC mach service.");
    auto records = journal_harness::waitForRecords(
        [&](const journal_harness::Fields& fields) {
            return journal_harness::get(fields, "_PID") == std::to_string(run.pid) &&
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

// SIGINT here, SIGTERM in the desktop suites. With --log-to-terminal the lines are on standard error too, the
// warning in its colour. Not a terminal: the colour mode follows TERM alone (the harness's private /dev may
// offer no pseudo-terminals).
TEST_F(ServiceProcessTest, AnswersWithoutADesktopLogsToTheTerminalAndEndsCleanlyOnSigint) {
    HelperClient client;
    const Ended run = runHelper({"--log-to-terminal"}, {"TERM=xterm-256color", "NO_COLOR="}, [&](pid_t pid) {
        std::optional<HelperMessage> answer;
        x11::testing::waitUntil(  // as soon as the helper serves its socket
            [&] { return client.connect(1s) && (answer = client.request("IsPermissionGranted", {}, 2s)); },
            10s);
        EXPECT_EQ(answer.value_or(HelperMessage{}).data, R"({"result":false,"type":"IsPermissionGranted"})");
        answer = client.request("SelectedText");
        EXPECT_EQ(answer.value_or(HelperMessage{}).data, R"({"content":"","type":"SelectedText"})");
        ::kill(pid, SIGINT);
    });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(client.waitForError(xpc::ErrorCode::ConnectionInterrupted));
    client.disconnect();
    // Neither the socket nor its lock stays behind: a client started now hears "not running".
    EXPECT_TRUE(std::filesystem::is_empty(runtime_.path()))
        << std::filesystem::directory_iterator(runtime_.path())->path();
    const std::string line = R"([^\n]* tandrel-helper\[)" + std::to_string(run.pid) + R"(:\d+\] )";
    EXPECT_TRUE(std::regex_search(
        run.err,
        std::regex("\x1b\\[38;5;130m" + line +
                   R"(\[WARN\] No usable desktop \(DISPLAY is not set; WAYLAND_DISPLAY is not set\): )"
                   "answering without one\n\x1b\\[0m")))
        << run.err;

    if (!privateTmp) return;
    // Flushed before the exit: the warning logged in reaction to the signal is in the file.
    const auto texts = logTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "[WARN] Got XPC_ERROR_TERMINATION_IMMINENT");
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
        {{"--version"}, 0, "tandrel-helper " TANDREL_VERSION "\n", ""},
        {{"--bogus"}, 2, "", "tandrel-helper: unknown option --bogus\n"},
    };
    std::string usage;  // what --help printed, the first case
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const Ended run = runHelper(c.arguments);
        EXPECT_EQ(run.status, c.status);
        if (usage.empty()) usage = run.out;
        EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
        EXPECT_EQ(run.err, c.status == 0 ? "" : c.errFirstLine + usage);
        EXPECT_TRUE(c.status == 0 || run.out.empty()) << run.out;
        EXPECT_FALSE(std::filesystem::exists(runtime_.socketPath(kServiceName)));
    }
}

}  // namespace

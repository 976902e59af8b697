// The journal loggers against a real systemd-journald: run under journal-harness.sh (CTest does), which gives
// this process a private journald; without one every test is skipped with the harness's reason.

#include <dirent.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JournalHarness.h"
#include "logging/DDASLLogCapture.h"
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/DDOSLogger.h"

extern char** environ;

namespace {

using journal_harness::Fields;
using journal_harness::get;
using namespace std::chrono_literals;

class CollectingLogger : public DDLogger {
  public:
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
    }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}
    std::vector<DDLogMessagePtr> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // The captured message whose text is `text`, or null.
    DDLogMessagePtr find(const std::string& text) {
        for (const auto& m : messages()) {
            if (m->message() == text) return m;
        }
        return nullptr;
    }

  private:
    std::mutex mutex_;
    std::vector<DDLogMessagePtr> messages_;
};

std::string token(const std::string& what) {
    static int counter = 0;
    return what + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::function<bool(const Fields&)> messageStartsWith(const std::string& prefix) {
    return [prefix](const Fields& f) { return get(f, "MESSAGE").rfind(prefix, 0) == 0; };
}

std::vector<Fields> waitForRecords(const std::string& prefix, std::size_t count) {
    return journal_harness::waitForRecords(messageStartsWith(prefix), count);
}

// Runs a program (another process) to completion.
void run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    ASSERT_EQ(posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0) << args[0];
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0];
}

// The descriptors this process holds on journal files: an open sd-journal keeps one per file it reads.
int journalFileDescriptors() {
    const char* dir = std::getenv("JOURNAL_HARNESS_DIR");
    const std::string prefix = std::string(dir ? dir : "/run/log/journal") + "/";
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return -1;
    while (dirent* entry = readdir(fds)) {
        char target[512];
        std::string path = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, n).rfind(prefix, 0) == 0) ++count;
    }
    closedir(fds);
    return count;
}

// Until `done`, writes a record every 50 ms that the capture leaves out (marked), so that a run that began
// watching after the interesting records were written is still woken up. Gives up after ten seconds.
bool nudgeUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        sd_journal_send("MESSAGE=nudge", "DDLOG=1", "PRIORITY=7", nullptr);
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

class JournalIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override { JOURNAL_HARNESS_REQUIRED(); }
    void TearDown() override {
        for (auto& logger : added_) DDLog::sharedInstance().removeLogger(logger);
        DDLog::sharedInstance().flushLog();
    }
    void add(const DDLoggerPtr& logger, std::uint64_t level = LogLevel::All) {
        DDLog::sharedInstance().addLogger(logger, level);
        added_.push_back(logger);
    }
    static void log(std::uint64_t flag, const std::string& text, const char* file = __FILE__) {
        DDLog::sharedInstance().log(true, text, LogLevel::All, flag, 0, file, "testFunction", 77, nullptr);
    }

  private:
    std::vector<DDLoggerPtr> added_;
};

TEST_F(JournalIntegrationTest, OsLoggerRecordsCarryPriorityNamesAndSource) {
    auto named = DDOSLogger::create("cocoa.vidadudidu.tandrel-test", "tandrel");
    auto halfNamed = DDOSLogger::create("cocoa.vidadudidu.tandrel-test", std::nullopt);
    add(named);
    const std::string named_ = token("os-named");
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {{LogFlag::Error, "3"},
                                                                      {LogFlag::Warning, "6"},
                                                                      {LogFlag::Info, "6"},
                                                                      {LogFlag::Debug, "7"},
                                                                      {LogFlag::Verbose, "7"}};
    log(LogFlag::Error, named_ + " captured", "DDASLLogCapture");  // never written back
    for (const auto& [flag, priority] : cases)
        log(flag, named_ + " " + priority + " " + std::to_string(flag));
    DDLog::sharedInstance().flushLog();

    auto records = waitForRecords(named_, cases.size());
    ASSERT_EQ(records.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& r = records[i];
        EXPECT_EQ(get(r, "MESSAGE"), named_ + " " + cases[i].second + " " + std::to_string(cases[i].first));
        EXPECT_EQ(get(r, "PRIORITY"), cases[i].second);
        EXPECT_EQ(get(r, "SUBSYSTEM"), "cocoa.vidadudidu.tandrel-test");
        EXPECT_EQ(get(r, "CATEGORY"), "tandrel");
        EXPECT_EQ(get(r, "CODE_FILE"), __FILE__);
        EXPECT_EQ(get(r, "CODE_LINE"), "77");
        EXPECT_EQ(get(r, "CODE_FUNC"), "testFunction");
        for (const char* name : {"CODE_FILE", "CODE_LINE", "CODE_FUNC", "MESSAGE", "PRIORITY"})
            EXPECT_EQ(r.count(name), 1u) << name << " occurs more than once";
        EXPECT_EQ(get(r, "_PID"), std::to_string(getpid()));
        EXPECT_EQ(get(r, "_TRANSPORT"), "journal");
    }

    // Subsystem without category: the default log, without either field.
    DDLog::sharedInstance().removeLogger(named);
    add(halfNamed);
    add(DDOSLogger::sharedInstance());
    const std::string plain = token("os-default");
    log(LogFlag::Info, plain);
    DDLog::sharedInstance().flushLog();
    records = waitForRecords(plain, 2);
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_EQ(get(r, "SUBSYSTEM"), "<absent>");
        EXPECT_EQ(get(r, "CATEGORY"), "<absent>");
        EXPECT_EQ(get(r, "PRIORITY"), "6");
    }
}

TEST_F(JournalIntegrationTest, SystemLogRecordsCarryPriorityReaderAndMarker) {
    add(DDASLLogger::sharedInstance());
    const std::string prefix = token("asl");
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {{LogFlag::Error, "2"},
                                                                      {LogFlag::Warning, "3"},
                                                                      {LogFlag::Info, "4"},
                                                                      {LogFlag::Debug, "5"},
                                                                      {LogFlag::Verbose, "5"}};
    log(LogFlag::Error, prefix + " captured", "DDASLLogCapture");
    for (const auto& [flag, priority] : cases) log(flag, prefix + " " + priority + "\nsecond line");
    DDLog::sharedInstance().flushLog();

    auto records = waitForRecords(prefix, cases.size());
    ASSERT_EQ(records.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(get(records[i], "MESSAGE"), prefix + " " + cases[i].second + "\nsecond line");
        EXPECT_EQ(get(records[i], "PRIORITY"), cases[i].second);
        EXPECT_EQ(get(records[i], "READ_UID"), std::to_string(geteuid()));
        EXPECT_EQ(get(records[i], "DDLOG"), "1");
    }
}

TEST_F(JournalIntegrationTest, CaptureTakesOwnRecordsOfOtherChannelsOnly) {
    auto collector = std::make_shared<CollectingLogger>();
    add(collector);
    add(DDASLLogger::sharedInstance());
    add(DDOSLogger::sharedInstance());
    const int journalFilesBefore = journalFileDescriptors();
    DDASLLogCapture::setCaptureLevel(LogLevel::Verbose);
    DDASLLogCapture::start();

    const std::string prefix = token("capture");
    openlog("journal-integration", LOG_PID, LOG_USER);
    syslog(LOG_WARNING, "%s syslog warning", prefix.c_str());
    sd_journal_print(LOG_ERR, "%s print error", prefix.c_str());
    syslog(LOG_CRIT, "%s syslog critical", prefix.c_str());
    log(LogFlag::Info, prefix + " through the loggers");  // written marked by both journal loggers
    run({"logger", "-t", "journal-integration", "-p", "user.err", prefix + " other process"});
    run({"systemd-cat", "-t", "journal-integration", "echo", prefix + " other stream"});
    DDLog::sharedInstance().flushLog();
    // Everything above is in the journal before the fence line is written.
    auto written = waitForRecords(prefix, 7);
    ASSERT_EQ(written.size(), 7u);
    syslog(LOG_NOTICE, "%s fence", prefix.c_str());
    ASSERT_TRUE(nudgeUntil([&] { return collector->find(prefix + " fence") != nullptr; }));
    DDLog::sharedInstance().flushLog();

    std::vector<std::string> captured;
    for (const auto& m : collector->messages()) {
        if (m->message().rfind(prefix, 0) == 0 && m->fileName() == "DDASLLogCapture")
            captured.push_back(m->message());
    }
    // Exactly this process's unmarked records, in journal order (journald may order records that came through
    // different sockets otherwise than they were sent).
    std::vector<std::string> ownUnmarked;
    for (const auto& r : written) {
        if (get(r, "_PID") == std::to_string(getpid()) && get(r, "DDLOG") == "<absent>")
            ownUnmarked.push_back(get(r, "MESSAGE"));
    }
    auto sorted = ownUnmarked;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, (std::vector<std::string>{prefix + " print error", prefix + " syslog critical",
                                                prefix + " syslog warning"}));
    ownUnmarked.push_back(prefix + " fence");
    EXPECT_EQ(captured, ownUnmarked);
    EXPECT_EQ(collector->find(prefix + " syslog warning")->flag(), LogFlag::Info);
    EXPECT_EQ(collector->find(prefix + " print error")->flag(), LogFlag::Warning);
    EXPECT_EQ(collector->find(prefix + " syslog critical")->flag(), LogFlag::Error);
    EXPECT_EQ(collector->find(prefix + " fence")->flag(), LogFlag::Debug);
    auto age = std::chrono::system_clock::now() - collector->find(prefix + " fence")->timestamp();
    EXPECT_LT(age, 30s);
    EXPECT_GE(age, 0s);

    // The journal loggers did not write the captured lines back.
    auto copies = journal_harness::readRecords(
        [&](const Fields& f) { return get(f, "MESSAGE") == prefix + " syslog warning"; });
    EXPECT_EQ(copies.size(), 1u);

    DDASLLogCapture::stop();
    EXPECT_TRUE(nudgeUntil([&] { return journalFileDescriptors() == journalFilesBefore; }));
}

TEST_F(JournalIntegrationTest, CaptureLevelFiltersAndStopEndsTheWatch) {
    auto collector = std::make_shared<CollectingLogger>();
    add(collector);
    const int journalFilesBefore = journalFileDescriptors();
    DDASLLogCapture::setCaptureLevel(LogLevel::Error);
    DDASLLogCapture::start();

    const std::string prefix = token("level");
    syslog(LOG_WARNING, "%s warning", prefix.c_str());
    syslog(LOG_ALERT, "%s alert", prefix.c_str());
    ASSERT_TRUE(nudgeUntil([&] { return collector->find(prefix + " alert") != nullptr; }));
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(collector->find(prefix + " warning"), nullptr);
    EXPECT_EQ(collector->find(prefix + " alert")->level(), LogLevel::Error);
    EXPECT_GT(journalFileDescriptors(), journalFilesBefore);  // the run has the journal open

    // After stop the run handles one more change, then closes the journal.
    DDASLLogCapture::stop();
    ASSERT_TRUE(nudgeUntil([&] { return journalFileDescriptors() == journalFilesBefore; }));
    syslog(LOG_CRIT, "%s after stop", prefix.c_str());
    ASSERT_EQ(waitForRecords(prefix + " after stop", 1).size(), 1u);
    std::this_thread::sleep_for(300ms);  // longer than journald's change-notification delay
    DDLog::sharedInstance().flushLog();
    EXPECT_EQ(collector->find(prefix + " after stop"), nullptr);
    DDASLLogCapture::setCaptureLevel(LogLevel::Verbose);
}

}  // namespace

// The journal loggers against a real systemd-journald: run under journal-harness.sh (CTest does), which gives
// this process a private journald; without one every test is skipped with the harness's reason.

#include <gtest/gtest.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JournalHarness.h"
#include "logging/DDASLLogCapture.h"
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFlags.h"
#include "logging/DDOSLogger.h"
#include "logging/internal/JournalSystemd.h"
#include "logging/testing/DDTestLogger.h"

namespace {

using journal_harness::Fields;
using journal_harness::get;
using namespace std::chrono_literals;

// The captured record whose text is `text`, or null.
DDLogMessagePtr find(const DDTestLogger& logger, const std::string& text) {
    for (const auto& m : logger.records()) {
        if (m->message() == text) return m;
    }
    return nullptr;
}

std::string token(const std::string& what) {
    static int counter = 0;
    return what + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::vector<Fields> waitForRecords(const std::string& prefix, std::size_t count) {
    return journal_harness::waitForRecords(
        [&](const Fields& f) { return get(f, "MESSAGE").rfind(prefix, 0) == 0; }, count);
}

// The descriptors this process holds on journal files: an open sd-journal keeps one per file it reads.
int journalFileDescriptors() {
    const char* dir = std::getenv("JOURNAL_HARNESS_DIR");
    const std::string prefix = std::string(dir ? dir : "/run/log/journal") + "/";
    int count = 0;
    std::error_code ignored;  // the directory's own descriptor is gone by the time it is read
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        count += std::filesystem::read_symlink(fd.path(), ignored).string().rfind(prefix, 0) == 0;
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
    void add(const DDLoggerPtr& logger) {
        DDLog::sharedInstance().addLogger(logger);
        added_.push_back(logger);
    }
    // Synchronous: the line has reached every logger when this returns.
    static void log(std::uint64_t flag, const std::string& text, const char* file = __FILE__) {
        DDLog::sharedInstance().log(false, text, LogLevel::All, flag, 0, file, "testFunction", 77, nullptr);
    }

  private:
    std::vector<DDLoggerPtr> added_;
};

// One record per line, with the priority each logger gives the flags error, warning, info, debug, verbose
// and error|warning, and the fields it adds; lines the capture took from the journal are
// never written back.
TEST_F(JournalIntegrationTest, LoggersWriteOneRecordPerLineWithPriorityAndTheirFields) {
    struct Case {
        const char* name;
        DDLoggerPtr logger;
        std::vector<std::string> priorities;
        std::vector<std::pair<std::string, std::string>> fields;
    };
    const std::string subsystem = "cocoa.vidadudidu.tandrel-test";
    const Case cases[] = {
        {"os-named",
         DDOSLogger::create(subsystem, "tandrel"),
         {"3", "6", "6", "7", "7", "7"},
         {{"SUBSYSTEM", subsystem},
          {"CATEGORY", "tandrel"},
          {"CODE_FILE", __FILE__},
          {"CODE_LINE", "77"},
          {"CODE_FUNC", "testFunction"},
          {"DDLOG", "1"}}},
        {"system-log",
         DDASLLogger::sharedInstance(),  // the one system-log logger: a second is refused
         {"2", "3", "4", "5", "5", "5"},
         {{"READ_UID", std::to_string(geteuid())}, {"DDLOG", "1"}}},
    };
    EXPECT_EQ(DDASLLogger::create(), nullptr);
    const std::uint64_t flags[] = {LogFlag::Error, LogFlag::Warning, LogFlag::Info,
                                   LogFlag::Debug, LogFlag::Verbose, LogFlag::Error | LogFlag::Warning};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        add(c.logger);
        const std::string prefix = token(c.name);
        log(LogFlag::Error, prefix + " captured", "DDASLLogCapture");
        for (int i = 0; i < 6; ++i) log(flags[i], prefix + " " + std::to_string(i) + "\nsecond line");
        DDLog::sharedInstance().removeLogger(c.logger);
        const auto records = waitForRecords(prefix, 6);
        ASSERT_EQ(records.size(), 6u);
        for (int i = 0; i < 6; ++i) {
            const auto& r = records[i];
            EXPECT_EQ(get(r, "MESSAGE"), prefix + " " + std::to_string(i) + "\nsecond line");
            EXPECT_EQ(get(r, "PRIORITY"), c.priorities[i]);
            for (const auto& [name, value] : c.fields) {
                EXPECT_EQ(get(r, name), value) << name;
                EXPECT_LE(r.count(name), 1u) << name << " occurs more than once";
            }
        }
    }
}

// Drops the lines that end in "reject" and hands back the others' own text.
class Rejecting : public DDLogFormatter {
  public:
    DDText formatLogMessage(const DDLogMessage& message) override {
        return message.message().ends_with("reject") ? nullptr : message.messageText();
    }
};

// A subsystem without a category gives the default log, without either field. The handle's priority ceiling
// decides what is written; a replaced handle is used from then on and a cleared one is rebuilt with every
// type enabled. Neither rejected lines nor the capture's own records are written.
TEST_F(JournalIntegrationTest, HandleFormatterAndCapturedRecordsDecideWhatIsWritten) {
    auto logger = DDOSLogger::create("named", std::nullopt);
    logger->setLogFormatter(std::make_shared<Rejecting>());
    add(logger);
    const std::string prefix = token("handle");
    logger->logger()->setPriorityCeiling(6);  // debug off
    log(LogFlag::Debug, prefix + " debug");
    log(LogFlag::Warning, prefix + " warning");
    logger->logger()->setPriorityCeiling(3);  // only errors
    log(LogFlag::Info, prefix + " info");
    log(LogFlag::Error, prefix + " error");
    log(LogFlag::Error, prefix + " captured", "/some/where/DDASLLogCapture.m");
    log(LogFlag::Error, prefix + " reject");
    auto other =
        std::make_shared<DDOSLogger::LogHandle>(logging::internal::JournalSystemd::shared(), "other", "c");
    logger->setLogger(other);
    log(LogFlag::Debug, prefix + " to other");
    logger->setLogger(nullptr);
    EXPECT_NE(logger->logger(), other);
    log(LogFlag::Debug, prefix + " rebuilt");

    const auto records = waitForRecords(prefix, 4);
    std::vector<std::string> written;
    for (const auto& r : records) written.push_back(get(r, "MESSAGE") + " @" + get(r, "SUBSYSTEM"));
    EXPECT_EQ(written,
              (std::vector<std::string>{prefix + " warning @<absent>", prefix + " error @<absent>",
                                        prefix + " to other @other", prefix + " rebuilt @<absent>"}));
}

// Own unmarked records of every channel, received since the run started, each taken once in journal order.
TEST_F(JournalIntegrationTest, CaptureTakesOwnNewRecordsOfOtherChannelsOnceEach) {
    auto collector = DDTestLogger::create("collector");
    add(collector);
    add(DDASLLogger::sharedInstance());
    add(DDOSLogger::sharedInstance());
    const int journalFilesBefore = journalFileDescriptors();
    openlog("journal-integration", LOG_PID, LOG_USER);
    // Received before the run's start second: left out.
    const std::string old = token("old");
    syslog(LOG_ERR, "%s before the start", old.c_str());
    ASSERT_EQ(waitForRecords(old, 1).size(), 1u);
    std::this_thread::sleep_for(1s - std::chrono::system_clock::now().time_since_epoch() % 1s + 10ms);

    DDASLLogCapture::setCaptureLevel(LogLevel::Verbose);
    // Starting again, or stopping and starting before the run has ended, keeps the one run.
    DDASLLogCapture::start();
    DDASLLogCapture::start();
    DDASLLogCapture::stop();
    DDASLLogCapture::start();

    const std::string prefix = token("capture");
    syslog(LOG_WARNING, "%s syslog warning", prefix.c_str());
    sd_journal_print(LOG_ERR, "%s print error", prefix.c_str());
    syslog(LOG_CRIT, "%s syslog critical", prefix.c_str());
    log(LogFlag::Info, prefix + " through the loggers");  // written marked by both journal loggers
    // Other processes: the prefix has no characters the shell would interpret.
    ASSERT_EQ(
        std::system(("logger -t journal-integration -p user.err '" + prefix + " other process'").c_str()), 0);
    ASSERT_EQ(std::system(("systemd-cat -t journal-integration echo '" + prefix + " other stream'").c_str()),
              0);
    // Everything above is in the journal before the fence line is written.
    auto written = waitForRecords(prefix, 7);
    ASSERT_EQ(written.size(), 7u);
    syslog(LOG_NOTICE, "%s fence", prefix.c_str());
    ASSERT_TRUE(nudgeUntil([&] { return find(*collector, prefix + " fence") != nullptr; }));
    // A later notification takes only what came after the records already taken.
    syslog(LOG_NOTICE, "%s after the fence", prefix.c_str());
    ASSERT_TRUE(nudgeUntil([&] { return find(*collector, prefix + " after the fence") != nullptr; }));
    DDLog::sharedInstance().flushLog();

    std::vector<std::string> captured;
    for (const auto& m : collector->records()) {
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
    ownUnmarked.push_back(prefix + " after the fence");
    EXPECT_EQ(captured, ownUnmarked);
    EXPECT_EQ(find(*collector, old + " before the start"), nullptr);
    EXPECT_EQ(find(*collector, prefix + " print error")->flag(), LogFlag::Warning);  // the rest: unit tests

    // After stop the run ends at its next notification and lets go of the journal.
    DDASLLogCapture::stop();
    EXPECT_TRUE(nudgeUntil([&] { return journalFileDescriptors() == journalFilesBefore; }));
}

}  // namespace

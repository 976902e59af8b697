#include "logging/extensions/DDBufferedProxy.h"

#include <gtest/gtest.h>

#include "logging/DDLog.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/internal/FileLoggingTestSupport.h"
#include "logging/testing/DDTestLogger.h"

using namespace logging::internal::testing;

namespace {

// Counts the write-outs that reach the file logger's write path (the will-log hook runs once per non-empty
// write).
class CountingFileLogger : public DDFileLogger {
  public:
    using DDFileLogger::DDFileLogger;
    int writes = 0;  // on the logger's queue only

  protected:
    using DDFileLogger::willLogMessage;
    void willLogMessage(const DDLogFileInfoPtr&) override { ++writes; }
};

struct Fixture {
    TempDir dir;
    std::shared_ptr<CountingFileLogger> fileLogger;
    std::shared_ptr<DDBufferedProxy> proxy;

    Fixture() {
        auto manager = std::make_shared<DDLogFileManagerDefault>(dir.path());
        fileLogger = std::make_shared<CountingFileLogger>(manager);
        fileLogger->setLogFormatter(nullptr);  // records are written as their bare text
        fileLogger->maximumFileSize();         // the change has reached the logger's queue
        proxy = wrapWithBuffer(std::static_pointer_cast<DDFileLogger>(fileLogger));
    }
    void log(const std::string& text) { deliver(*proxy, record(text)); }
    int writes() {
        int n = 0;
        fileLogger->loggerQueue()->sync([&] { n = fileLogger->writes; });
        return n;
    }
    std::string fileText() { return readFile(fileLogger->currentLogFileInfo()->filePath()); }
};

TEST(DDBufferedProxyTest, WritesOutAtTheThresholdWithoutSplittingRecords) {
    Fixture f;
    f.proxy->setMaxBufferSizeBytes(20);
    for (const char* text : {"aaaa", "bbbb", "cccc"}) f.log(text);  // 5 bytes each with the newline
    EXPECT_EQ(f.writes(), 0);
    f.log("dddd");  // reaches 20: one write-out
    EXPECT_EQ(f.writes(), 1);
    EXPECT_EQ(f.fileText(), "aaaa\nbbbb\ncccc\ndddd\n");

    // A record longer than the threshold goes out whole, together with what was buffered before it.
    f.log("e");
    f.log(std::string(40, 'L'));
    EXPECT_EQ(f.writes(), 2);
    EXPECT_EQ(f.fileText(), "aaaa\nbbbb\ncccc\ndddd\ne\n" + std::string(40, 'L') + "\n");

    // Records that format to nothing add nothing: the flush finds nothing to write.
    f.log("");
    f.proxy->flush();
    EXPECT_EQ(f.writes(), 2);

    // A maximum of 0 sends every record at once, each in its own write.
    f.proxy->setMaxBufferSizeBytes(0);
    f.log("x");
    f.log("y");
    EXPECT_EQ(f.writes(), 4);
}

TEST(DDBufferedProxyTest, FlushAndDestructionWriteOutAndSettingsReachTheFileLogger) {
    Fixture f;
    f.log("one");
    f.log("two");
    EXPECT_EQ(f.writes(), 0);
    f.proxy->flush();
    EXPECT_EQ(f.writes(), 1);
    EXPECT_EQ(f.fileText(), "one\ntwo\n");

    // Wrapping twice gives the same proxy; settings go to the file logger; the buffer size is clamped.
    EXPECT_EQ(wrapWithBuffer(f.proxy), f.proxy);
    EXPECT_EQ(unwrapFromBuffer(f.proxy), f.fileLogger);
    f.proxy->setMaximumFileSize(1234);
    EXPECT_EQ(f.fileLogger->maximumFileSize(), 1234u);
    f.proxy->setMaxBufferSizeBytes(DDGetMaxBufferSizeBytes() + 1);
    EXPECT_EQ(f.proxy->maxBufferSizeBytes(), DDGetMaxBufferSizeBytes());

    f.log("three");
    const auto path = f.fileLogger->currentLogFileInfo()->filePath();
    f.proxy.reset();
    EXPECT_EQ(readFile(path), "one\ntwo\nthree\n");
}

TEST(DDBufferedProxyTest, ThroughTheDispatcherRemovalKeepsBufferedLinesForLater) {
    Fixture f;
    DDLog& log = DDLog::sharedInstance();
    log.addLogger(f.proxy);
    log.log(true, std::string("first"), LogLevel::All, LogFlag::Info, 0, "f", "g", 1, nullptr);
    log.flushLog();  // the dispatcher's flush reaches the proxy
    const auto firstFile = f.fileLogger->currentLogFileInfo()->filePath();
    EXPECT_EQ(readFile(firstFile), "first\n");

    log.log(true, std::string("second"), LogLevel::All, LogFlag::Info, 0, "f", "g", 1, nullptr);
    log.removeLogger(f.proxy);  // the file logger rolls; the buffered line is not written out
    f.fileLogger->maximumFileSize();
    EXPECT_TRUE(DDLogFileInfo(firstFile).isArchived());
    EXPECT_EQ(readFile(firstFile), "first\n");
    f.proxy.reset();
    EXPECT_EQ(f.fileText(), "second\n");
}

}  // namespace

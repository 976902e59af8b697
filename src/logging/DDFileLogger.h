#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "dispatch/Queue.h"
#include "logging/DDAbstractLogger.h"
#include "logging/DDLogFileInfo.h"
#include "logging/DDLogFileManager.h"
#include "logging/DDLoggerNames.h"

namespace dispatch {
class FileWatchSource;
class TimerSource;
}  // namespace dispatch

// The logger that appends records to plain text files and rolls them: when the file reaches the size limit,
// when it reaches the age limit, when it is deleted, moved or revoked behind the logger's back, or on
// request. Which files exist (listing, naming, creating, deleting) is the file manager's business; this class
// decides when to switch files and owns the open one. A finished file is marked archived and never written
// again; an unarchived newest file from an earlier run is taken up again unless it is due or reuse is off.
//
// Queues: everything named `lt_`, `logMessage`, `willRemoveLogger`, the age timer and the file watch run on
// the logger's own serial queue (`loggerQueue()`), so the fields need no lock. Archive notifications to the
// manager and roll completions run on the completion queue (default: the default-priority global queue).
//
// Waiting rules: the getters `maximumFileSize`, `rollingFrequency` and `currentLogFileInfo`, and `flush` and
// `logData` from outside the logger's queue, block on the dispatcher's logging queue and then on the logger's
// queue: never call the getters from either queue (they would wait for themselves). The setters and
// `rollLogFile` return at once and apply in log order. Destruction waits for the logger's queue alone.
//
// Writing: the open file is written with O_APPEND, one write per record (the kernel moves to the end, so
// something else appending cannot be overwritten), and the position after the write serves the size check.
// Existing files are opened only if they are regular files of the current user, never through a symbolic
// link; a file failing that is left alone and another one is selected or created.
//
// Create with `create(...)` or std::make_shared (the timer and watch hold the logger weakly).
class DDFileLogger : public DDAbstractLogger {
  public:
    // A logger writing to a new default manager's directory.
    static std::shared_ptr<DDFileLogger> create();
    // `completionQueue` null: the default-priority global queue. `clock` empty: the system clock.
    static std::shared_ptr<DDFileLogger> create(DDLogFileManagerPtr manager,
                                                std::shared_ptr<dispatch::Queue> completionQueue = nullptr,
                                                DDWallClock clock = {});
    explicit DDFileLogger(DDLogFileManagerPtr manager = nullptr,
                          std::shared_ptr<dispatch::Queue> completionQueue = nullptr, DDWallClock clock = {});
    ~DDFileLogger() override;

    std::string loggerName() override { return DDLoggerNameFile; }

    // Bytes; 0 turns rolling by size off. Setting it opens (selecting or creating) the current file at once.
    std::uint64_t maximumFileSize();
    void setMaximumFileSize(std::uint64_t bytes);
    // Seconds; 0 or less turns rolling by age off.
    double rollingFrequency();
    void setRollingFrequency(double seconds);
    // Plain fields, meant to be set before the logger is used.
    bool doNotReuseLogFiles() const { return doNotReuseLogFiles_.load(std::memory_order_relaxed); }
    void setDoNotReuseLogFiles(bool value) { doNotReuseLogFiles_.store(value, std::memory_order_relaxed); }
    bool automaticallyAppendNewlineForCustomFormatters() const {
        return automaticallyAppendNewline_.load(std::memory_order_relaxed);
    }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool value) {
        automaticallyAppendNewline_.store(value, std::memory_order_relaxed);
    }
    const DDLogFileManagerPtr& logFileManager() const { return logFileManager_; }

    // Selects (and if need be creates) the current file without opening it. Blocking, see above.
    DDLogFileInfoPtr currentLogFileInfo();
    void rollLogFile() { rollLogFileWithCompletionBlock(nullptr); }
    // The completion, if any, runs on the completion queue, also when there was no open file to roll.
    void rollLogFileWithCompletionBlock(std::function<void()> completion);
    void flush() override;
    void logMessage(const DDLogMessagePtr& message) override;
    // Closes and archives the current file.
    void willRemoveLogger() override;
    // Writes already formatted bytes.
    void logData(std::string_view data);

    // The bytes one record contributes to the file (formatted, newline rule applied); empty for none.
    std::string lt_dataForMessage(const DDLogMessage& message);
    // The same, appended to `out`; false when the record contributes nothing.
    bool lt_appendDataForMessage(const DDLogMessage& message, std::string& out);
    // Appends bytes to the current file with the hooks, the size check and the exception guard.
    void lt_logData(std::string_view data);

    // The steps of the write path, only on the logger's queue.
    DDLogFileInfoPtr lt_currentLogFileInfo();
    // The open descriptor, or -1 when no file could be opened.
    int lt_currentLogFileHandle();
    void lt_maybeRollLogFileDueToSize();
    void lt_maybeRollLogFileDueToAge();
    void lt_rollLogFileNow();
    void lt_flush();

    // For tests: exceptions caught in the write path by every file logger of the process.
    static std::int32_t exceptionCount();
    // For tests, on the logger's queue only: whether an age timer is armed, whether a file is open.
    bool lt_hasRollingTimer() const { return rollingTimer_ != nullptr; }
    bool lt_isFileOpen() const { return currentLogFileHandle_ >= 0; }

  protected:
    // Hooks around each write. The argument-less forms are the ones called; by default they pass the current
    // file record (none before the first file is selected).
    virtual void willLogMessage() { willLogMessage(currentLogFileInfo_); }
    virtual void didLogMessage() { didLogMessage(currentLogFileInfo_); }
    virtual void willLogMessage(const DDLogFileInfoPtr& info) { (void)info; }
    // By default the size check: the limit is tested after every write.
    virtual void didLogMessage(const DDLogFileInfoPtr& info) {
        (void)info;
        lt_maybeRollLogFileDueToSize();
    }
    // Whether a file left from before must be archived instead of taken up.
    virtual bool shouldArchiveRecentLogFileInfo(const DDLogFileInfoPtr& info) {
        (void)info;
        return false;
    }

  private:
    bool lt_shouldUseLogFile(const DDLogFileInfoPtr& info, bool isResuming);
    bool lt_shouldLogFileBeArchived(const DDLogFileInfoPtr& info);
    DDLogFileInfoPtr lt_createNewCurrentLogFile();
    void lt_scheduleTimerToRollLogFileDueToAge();
    void lt_monitorCurrentLogFileForExternalChanges();
    void lt_closeCurrentFile();
    void lt_cleanup();
    void lt_notifyArchived(const std::string& path, bool wasRolled);
    std::weak_ptr<DDFileLogger> weakSelf();
    DDLogFileInfo::TimePoint now() const;

    DDLogFileManagerPtr logFileManager_;
    DDLogFileInfoPtr currentLogFileInfo_;
    int currentLogFileHandle_ = -1;
    std::string openFailure_;  // why the last attempt to get a file failed, for the diagnostics
    std::shared_ptr<dispatch::FileWatchSource> currentLogFileVnode_;
    double rollingFrequency_ = 86400.0;
    std::shared_ptr<dispatch::TimerSource> rollingTimer_;
    std::uint64_t maximumFileSize_ = 1024 * 1024;
    std::shared_ptr<dispatch::Queue> completionQueue_;
    std::atomic<bool> doNotReuseLogFiles_{false};
    std::atomic<bool> automaticallyAppendNewline_{true};
    DDWallClock clock_;
    std::string scratch_;  // the write path's reused line buffer
};

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "logging/DDLogFileManager.h"
#include "logging/internal/UtcDateFormatter.h"

namespace dispatch {
class Group;
}

// The log file manager: one directory of log files named "<application name> <UTC creation time>.log"
// (numbered " 2", " 3", … when a name is taken), created without ever replacing a file, listed newest first,
// and thinned out by count and by total size after each creation and each change of a limit.
//
// Who calls it: the file logger on its queue (listing, creation); anyone for the limits. It has no lock: the
// deletion passes run on the default-priority global queue, possibly alongside listings, creations and
// writes, and each works on what it finds in the directory at that moment.
//
// Shared directories: only regular files owned by the current user count as log files, so that in a directory
// such as /tmp another user's file (or a planted symbolic link) is never appended to, reused or deleted. New
// files are created with mode 0600: log lines may carry what the user selected.
//
// Own it through a std::shared_ptr: the deletion pass that creation queues keeps only a weak reference (a
// manager not owned that way runs its passes on the calling thread instead).
class DDLogFileManagerDefault : public DDLogFileManager,
                                public std::enable_shared_from_this<DDLogFileManagerDefault> {
  public:
    // The default logs directory.
    DDLogFileManagerDefault() : DDLogFileManagerDefault(std::nullopt) {}
    // `logsDirectory` none or empty: the default logs directory. Touches no file.
    explicit DDLogFileManagerDefault(std::optional<std::string> logsDirectory, DDWallClock clock = {});
    ~DDLogFileManagerDefault() override;

    // The identifier the program gives itself; log file names start with it. Call before the first log file
    // is named: the application name is fixed for the process on first use. Without it, the process name.
    static void setApplicationIdentifier(std::string identifier);

    // Overridable naming and layout; the other operations reach them only through these virtual calls.
    virtual std::string applicationName();
    // $XDG_STATE_HOME (default ~/.local/state)/<process name>/log; the temporary directory in place of the
    // state directory when no home is known.
    virtual std::string defaultLogsDirectory();
    virtual const logging::internal::UtcDateFormatter& logFileDateFormatter() { return fileDateFormatter_; }
    virtual bool isLogFile(const std::string& fileName);
    virtual std::string newLogFileName();
    // A text every new file starts with; none by default.
    virtual std::optional<std::string> logFileHeader() { return std::nullopt; }
    // The header with a final newline, none when the header is none or empty.
    std::optional<std::string> logFileHeaderData();

    std::optional<std::string> createNewLogFileWithError(std::error_code& error) override;

    std::uint64_t maximumNumberOfLogFiles() const override { return maximumNumberOfLogFiles_.load(); }
    void setMaximumNumberOfLogFiles(std::uint64_t count) override;
    std::uint64_t logFilesDiskQuota() const override { return logFilesDiskQuota_.load(); }
    void setLogFilesDiskQuota(std::uint64_t bytes) override;

    // Creates the directory (and missing parents) on every call; returns the configured path in any case.
    std::string logsDirectory() override;

    std::vector<std::string> unsortedLogFilePaths() override;
    std::vector<std::string> unsortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() override;
    std::vector<std::string> sortedLogFilePaths() override;
    std::vector<std::string> sortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override;

    // Queues a deletion pass on the default-priority global queue and returns.
    void deleteOldFilesForConfigurationChange();
    // One deletion pass, on the calling thread.
    void deleteOldLogFiles();
    // Blocking: waits for the deletion passes queued so far. Must not be called from the global queue's work.
    void waitForDeletionPasses();

    DDWallClock clock() const { return clock_; }

  private:
    void queueDeletionPass();
    bool isOwnedRegularFile(int directoryFd, const char* name) const;

    logging::internal::UtcDateFormatter fileDateFormatter_;
    std::atomic<std::uint64_t> maximumNumberOfLogFiles_{5};
    std::atomic<std::uint64_t> logFilesDiskQuota_{20 * 1024 * 1024};
    std::optional<std::string> configuredDirectory_;
    std::once_flag directoryOnce_;
    std::string logsDirectory_;  // set once under directoryOnce_
    DDWallClock clock_;
    std::unique_ptr<dispatch::Group> deletions_;
};

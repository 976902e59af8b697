#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "logging/DDLogFileInfo.h"

// What a file logger needs from the owner of a directory of log files: naming and creating new files, listing
// the existing ones (in directory order or newest first) and deleting surplus ones.
//
// Who calls it: the file logger, on its own queue (listing and creation); the archive notifications on the
// logger's completion queue. Implementations may delete files on other queues concurrently with that.
//
// The optional operations have defaults that behave as "not offered": `createNewLogFile` gives none, and the
// notifications do nothing. `didArchiveLogFile(path, wasRolled)` is the one the file logger calls; by default
// it forwards to the older one-argument forms, so a manager that overrides only one of those still hears of
// it.
class DDLogFileManager {
  public:
    virtual ~DDLogFileManager() = default;

    // The full path of a newly created log file, or none with the reason in `error`.
    virtual std::optional<std::string> createNewLogFileWithError(std::error_code& error) = 0;

    // 0 means no limit.
    virtual std::uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(std::uint64_t count) = 0;
    // Bytes; 0 means no limit.
    virtual std::uint64_t logFilesDiskQuota() const = 0;
    virtual void setLogFilesDiskQuota(std::uint64_t bytes) = 0;

    virtual std::string logsDirectory() = 0;

    // All log files, in directory order.
    virtual std::vector<std::string> unsortedLogFilePaths() = 0;
    virtual std::vector<std::string> unsortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() = 0;
    // All log files, newest first.
    virtual std::vector<std::string> sortedLogFilePaths() = 0;
    virtual std::vector<std::string> sortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> sortedLogFileInfos() = 0;

    // The older form of `createNewLogFileWithError`.
    virtual std::optional<std::string> createNewLogFile() { return std::nullopt; }

    // The file logger archived the file at `path`: by a roll (`wasRolled`), or instead of reusing a file left
    // from before.
    virtual void didArchiveLogFile(const std::string& path, bool wasRolled) {
        if (wasRolled) {
            didRollAndArchiveLogFile(path);
        } else {
            didArchiveLogFile(path);
        }
    }
    virtual void didArchiveLogFile(const std::string& path) { (void)path; }
    virtual void didRollAndArchiveLogFile(const std::string& path) { (void)path; }
};

using DDLogFileManagerPtr = std::shared_ptr<DDLogFileManager>;

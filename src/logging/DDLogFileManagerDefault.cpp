#include "logging/DDLogFileManagerDefault.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "dispatch/ConcurrentQueue.h"
#include "dispatch/Group.h"
#include "logging/internal/ApplicationPaths.h"
#include "logging/internal/Diagnostics.h"

using logging::internal::ddDiagnostic;
using logging::internal::errnoDescription;

namespace {

constexpr const char* kFileDatePattern = "yyyy'-'MM'-'dd'--'HH'-'mm'-'ss'-'SSS'";
constexpr int kMaxCreationErrors = 5;

// Writes all of `data`, retrying short writes and interruptions.
bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The candidate name for an attempt: "name.log", then "name 2.log", "name 3.log", ...
std::string candidateName(const std::string& name, unsigned long attempt) {
    if (attempt == 1) return name;
    const std::filesystem::path path(name);
    std::string candidate = path.stem().string() + " " + std::to_string(attempt);
    if (path.has_extension() && path.extension().string().size() > 1) candidate += path.extension().string();
    return candidate;
}

}  // namespace

DDLogFileManagerDefault::DDLogFileManagerDefault(std::optional<std::string> logsDirectory, DDWallClock clock)
    : fileDateFormatter_(kFileDatePattern),
      configuredDirectory_(logsDirectory && !logsDirectory->empty() ? std::move(logsDirectory)
                                                                    : std::nullopt),
      clock_(std::move(clock)),
      deletions_(std::make_unique<dispatch::Group>()) {}

DDLogFileManagerDefault::~DDLogFileManagerDefault() = default;

void DDLogFileManagerDefault::setApplicationIdentifier(std::string identifier) {
    logging::internal::setApplicationIdentifier(std::move(identifier));
}

std::string DDLogFileManagerDefault::applicationName() {
    static const std::string name = logging::internal::applicationName();
    return name;
}

std::string DDLogFileManagerDefault::defaultLogsDirectory() {
    const std::filesystem::path base = logging::internal::stateHomeDirectory();
    return (base / logging::internal::processName() / "log").string();
}

bool DDLogFileManagerDefault::isLogFile(const std::string& fileName) {
    const std::string prefix = applicationName() + " ";
    return fileName.starts_with(prefix) && fileName.ends_with(".log");
}

std::string DDLogFileManagerDefault::newLogFileName() {
    const auto now = clock_ ? clock_() : std::chrono::system_clock::now();
    return applicationName() + " " + logFileDateFormatter().format(now) + ".log";
}

std::optional<std::string> DDLogFileManagerDefault::logFileHeaderData() {
    std::optional<std::string> header = logFileHeader();
    if (!header || header->empty()) return std::nullopt;
    if (header->back() != '\n') header->push_back('\n');
    return header;
}

std::string DDLogFileManagerDefault::logsDirectory() {
    std::call_once(directoryOnce_, [this] {
        logsDirectory_ = configuredDirectory_ ? *configuredDirectory_ : defaultLogsDirectory();
    });
    std::error_code error;
    std::filesystem::create_directories(logsDirectory_, error);
    if (error) {
        ddDiagnostic("DDFileLogManagerDefault: Error creating logsDirectory: " + logsDirectory_ + ": " +
                     error.message());
    }
    return logsDirectory_;
}

std::optional<std::string> DDLogFileManagerDefault::createNewLogFileWithError(std::error_code& error) {
    const std::string name = newLogFileName();
    const std::filesystem::path directory = logsDirectory();
    const std::string contents = logFileHeaderData().value_or(std::string());

    unsigned long attempt = 1;
    int errors = 0;
    std::error_code lastError;
    for (;;) {
        const std::string path = (directory / candidateName(name, attempt)).string();
        // O_EXCL never replaces a file; O_NOFOLLOW refuses a link planted under the name.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            ++attempt;
            continue;
        }
        int err = fd < 0 ? errno : 0;
        if (fd >= 0) {
            // The umask may only take bits away; make the mode exactly owner read/write.
            if (::fchmod(fd, 0600) != 0 || !writeAll(fd, contents)) err = errno != 0 ? errno : EIO;
            if (::close(fd) != 0 && err == 0) err = errno;
            if (err != 0) ::unlink(path.c_str());
        }
        if (err == 0) {
            queueDeletionPass();
            return path;
        }
        lastError = std::error_code(err, std::generic_category());
        ddDiagnostic("DDLogFileManagerDefault: Critical error while creating log file: " + path + ": " +
                     errnoDescription(err));
        if (++errors >= kMaxCreationErrors) {
            ddDiagnostic("DDLogFileManagerDefault: Bailing file creation, encountered " +
                         std::to_string(errors) + " errors.");
            error = lastError;
            return std::nullopt;
        }
    }
}

void DDLogFileManagerDefault::setMaximumNumberOfLogFiles(std::uint64_t count) {
    if (maximumNumberOfLogFiles_.exchange(count) != count) deleteOldFilesForConfigurationChange();
}

void DDLogFileManagerDefault::setLogFilesDiskQuota(std::uint64_t bytes) {
    if (logFilesDiskQuota_.exchange(bytes) != bytes) deleteOldFilesForConfigurationChange();
}

void DDLogFileManagerDefault::deleteOldFilesForConfigurationChange() {
    queueDeletionPass();
}

void DDLogFileManagerDefault::queueDeletionPass() {
    std::weak_ptr<DDLogFileManagerDefault> weak = weak_from_this();
    if (weak.expired()) {
        deleteOldLogFiles();
        return;
    }
    deletions_->async(*dispatch::Queue::global(dispatch::Qos::Default), [weak] {
        if (auto self = weak.lock()) self->deleteOldLogFiles();
    });
}

void DDLogFileManagerDefault::waitForDeletionPasses() {
    deletions_->wait();
}

void DDLogFileManagerDefault::deleteOldLogFiles() {
    const std::vector<DDLogFileInfoPtr> infos = sortedLogFileInfos();
    const std::uint64_t quota = logFilesDiskQuota();
    const std::uint64_t maxCount = maximumNumberOfLogFiles();
    if (quota == 0 && maxCount == 0) return;

    std::optional<std::size_t> firstToDelete;
    if (quota > 0) {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < infos.size(); ++i) {
            total += infos[i]->fileSize();
            if (total > quota) {
                firstToDelete = i;
                break;
            }
        }
    }
    if (maxCount > 0) {
        const auto limit = static_cast<std::size_t>(std::min<std::uint64_t>(maxCount, SIZE_MAX));
        firstToDelete = firstToDelete ? std::min(*firstToDelete, limit) : limit;
    }
    if (!firstToDelete || infos.empty()) return;
    // The newest file alone over the quota: spare it while it is still being written.
    if (*firstToDelete == 0 && !infos[0]->isArchived()) firstToDelete = 1;

    for (std::size_t i = *firstToDelete; i < infos.size(); ++i) {
        // Already gone (a concurrent pass took it) is what this pass wanted.
        if (::unlink(infos[i]->filePath().c_str()) != 0 && errno != ENOENT) {
            ddDiagnostic("DDLogFileManagerDefault: Error deleting file " + infos[i]->filePath() + ": " +
                         errnoDescription(errno));
        }
    }
}

bool DDLogFileManagerDefault::isOwnedRegularFile(int directoryFd, const char* name) const {
    struct stat st {};
    if (::fstatat(directoryFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    // A hard link is some other file too: neither ours to append to nor to delete.
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFilePaths() {
    const std::string directory = logsDirectory();
    std::vector<std::string> paths;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
    if (!dir) return paths;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (!isLogFile(name) || !isOwnedRegularFile(::dirfd(dir.get()), entry->d_name)) continue;
        paths.push_back((std::filesystem::path(directory) / name).string());
    }
    return paths;
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFileNames() {
    std::vector<std::string> names;
    for (const std::string& path : unsortedLogFilePaths()) {
        names.push_back(std::filesystem::path(path).filename().string());
    }
    return names;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<DDLogFileInfoPtr> infos;
    for (std::string& path : unsortedLogFilePaths()) {
        infos.push_back(std::make_shared<DDLogFileInfo>(std::move(path), clock_));
    }
    return infos;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::sortedLogFileInfos() {
    std::vector<DDLogFileInfoPtr> infos = unsortedLogFileInfos();
    const auto now = clock_ ? clock_() : std::chrono::system_clock::now();
    struct Keyed {
        DDLogFileInfo::TimePoint date;
        DDLogFileInfoPtr info;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(infos.size());
    for (DDLogFileInfoPtr& info : infos) {
        const std::string& name = info->fileName();
        std::optional<DDLogFileInfo::TimePoint> date;
        if (name.empty()) {
            date = now;
        } else {
            std::string last = name.substr(name.rfind(' ') == std::string::npos ? 0 : name.rfind(' ') + 1);
            for (size_t at; (at = last.find(".log")) != std::string::npos;) last.erase(at, 4);
            date = logFileDateFormatter().parse(last);
            if (!date) date = info->creationDate();
        }
        // A file whose attributes cannot be read (it vanished) counts as made now, which keeps the order a
        // strict weak ordering.
        keyed.push_back({date.value_or(now), std::move(info)});
    }
    // A date ahead of the clock was written before the clock was set back, so that file is older than any
    // file dated now or earlier; ranking it newest would make the deletion pass remove the file just created
    // and the logger resume the stale one.
    std::stable_sort(keyed.begin(), keyed.end(), [now](const Keyed& a, const Keyed& b) {
        const bool aAhead = a.date > now, bAhead = b.date > now;
        return aAhead != bAhead ? bAhead : b.date < a.date;
    });
    std::vector<DDLogFileInfoPtr> sorted;
    sorted.reserve(keyed.size());
    for (Keyed& entry : keyed) sorted.push_back(std::move(entry.info));
    return sorted;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const DDLogFileInfoPtr& info : sortedLogFileInfos()) paths.push_back(info->filePath());
    return paths;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFileNames() {
    std::vector<std::string> names;
    for (const DDLogFileInfoPtr& info : sortedLogFileInfos()) names.push_back(info->fileName());
    return names;
}

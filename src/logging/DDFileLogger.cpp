#include "logging/DDFileLogger.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <exception>
#include <typeinfo>

#include "dispatch/ConcurrentQueue.h"
#include "dispatch/FileWatchSource.h"
#include "dispatch/TimerSource.h"
#include "logging/DDLogFileFormatterDefault.h"
#include "logging/DDLogFileManagerDefault.h"
#include "logging/internal/Diagnostics.h"

using logging::internal::ddDiagnostic;
using logging::internal::errnoDescription;

namespace {

// Seconds between the Unix epoch and the reference date 2001-01-01 00:00:00 UTC, which the roll-date clamp is
// expressed against.
constexpr double kReferenceDateOffset = 978307200.0;
constexpr double kMaxTimerSeconds = 9223372036.0;  // keeps the delay within signed 64-bit nanoseconds

std::atomic<std::int32_t> gExceptionCount{0};

void countException(const char* what) {
    const std::int32_t before = gExceptionCount.fetch_add(1);
    if (before <= 9) ddDiagnostic(std::string("DDFileLogger.logMessage: ") + what);
    if (before + 1 == 10)
        ddDiagnostic("DDFileLogger.logMessage: Too many exceptions -- will not log any more of them.");
}

// Writes every byte; false with errno set on failure.
bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Opens an existing log file for appending; never creates, never follows a symbolic link, never blocks on a
// FIFO, and accepts only a regular file of the current user with a single link (a hard link would make the
// lines land in some other file too). -1 with the reason in `error` otherwise.
int openForAppending(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        ::close(fd);
        error = EPERM;
        return -1;
    }
    return fd;
}

// A failure that will not go away by retrying the same file (it vanished, or is not ours to write).
bool isLastingOpenFailure(int error) {
    return error != EMFILE && error != ENFILE && error != ENOMEM && error != EINTR && error != EAGAIN;
}

}  // namespace

std::shared_ptr<DDFileLogger> DDFileLogger::create() {
    return std::make_shared<DDFileLogger>();
}

std::shared_ptr<DDFileLogger> DDFileLogger::create(DDLogFileManagerPtr manager,
                                                   std::shared_ptr<dispatch::Queue> completionQueue,
                                                   DDWallClock clock) {
    return std::make_shared<DDFileLogger>(std::move(manager), std::move(completionQueue), std::move(clock));
}

DDFileLogger::DDFileLogger(DDLogFileManagerPtr manager, std::shared_ptr<dispatch::Queue> completionQueue,
                           DDWallClock clock)
    : logFileManager_(manager ? std::move(manager) : std::make_shared<DDLogFileManagerDefault>()),
      completionQueue_(completionQueue ? std::move(completionQueue)
                                       : std::shared_ptr<dispatch::Queue>(dispatch::Queue::global())),
      clock_(std::move(clock)) {
    logFormatter_ = std::make_shared<DDLogFileFormatterDefault>();
    initLoggerQueue();
}

DDFileLogger::~DDFileLogger() {
    if (isOnInternalLoggerQueue()) {
        lt_cleanup();
    } else {
        loggerQueue_->sync([this] { lt_cleanup(); });
    }
}

std::int32_t DDFileLogger::exceptionCount() {
    return gExceptionCount.load();
}

std::weak_ptr<DDFileLogger> DDFileLogger::weakSelf() {
    return std::static_pointer_cast<DDFileLogger>(weak_from_this().lock());
}

DDLogFileInfo::TimePoint DDFileLogger::now() const {
    return clock_ ? clock_() : DDLogFileInfo::Clock::now();
}

// ---- settings and actions (any thread) ----

std::uint64_t DDFileLogger::maximumFileSize() {
    return readSetting([this] { return maximumFileSize_; });
}

void DDFileLogger::setMaximumFileSize(std::uint64_t bytes) {
    changeSetting([this, bytes] {
        maximumFileSize_ = bytes;
        if (currentLogFileHandle_ < 0) lt_currentLogFileHandle();
        if (currentLogFileHandle_ >= 0) lt_maybeRollLogFileDueToSize();
    });
}

double DDFileLogger::rollingFrequency() {
    return readSetting([this] { return rollingFrequency_; });
}

void DDFileLogger::setRollingFrequency(double seconds) {
    changeSetting([this, seconds] {
        rollingFrequency_ = seconds;
        lt_maybeRollLogFileDueToAge();
    });
}

DDLogFileInfoPtr DDFileLogger::currentLogFileInfo() {
    return readSetting([this] { return lt_currentLogFileInfo(); });
}

void DDFileLogger::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    changeSetting([this, completion = std::move(completion)] {
        lt_rollLogFileNow();
        if (completion) completionQueue_->async(completion);
    });
}

void DDFileLogger::flush() {
    readSetting([this] {
        lt_flush();
        return true;
    });
}

void DDFileLogger::logData(std::string_view data) {
    readSetting([this, data] {
        lt_logData(data);
        return true;
    });
}

void DDFileLogger::logMessage(const DDLogMessagePtr& message) {
    scratch_.clear();
    if (message && lt_appendDataForMessage(*message, scratch_)) lt_logData(scratch_);
}

void DDFileLogger::willRemoveLogger() {
    lt_rollLogFileNow();
}

// ---- write path (logger's queue) ----

std::string DDFileLogger::lt_dataForMessage(const DDLogMessage& message) {
    std::string out;
    lt_appendDataForMessage(message, out);
    return out;
}

bool DDFileLogger::lt_appendDataForMessage(const DDLogMessage& message, std::string& out) {
    if (logFormatter_ && typeid(*logFormatter_) == typeid(DDLogFileFormatterDefault)) {
        // The formatter this logger installs (not a subclass, which may format otherwise): its text goes
        // straight into `out`, without a text object per line. Always custom-formatted, see below.
        const std::size_t before = out.size();
        static_cast<const DDLogFileFormatterDefault&>(*logFormatter_).appendFormatted(message, out);
        if (out.size() == before) return false;
        if (out.back() != '\n' && automaticallyAppendNewlineForCustomFormatters()) out.push_back('\n');
        return true;
    }
    DDText text = message.messageText();
    bool customFormatted = false;
    if (logFormatter_) {
        DDText formatted = logFormatter_->formatLogMessage(message);
        // Only a different text object counts as custom: handing back the record's own text means unchanged.
        customFormatted = formatted.get() != message.messageText().get();
        text = std::move(formatted);
    }
    if (!text || text->empty()) return false;
    out.append(*text);
    if (text->back() != '\n' && (!customFormatted || automaticallyAppendNewlineForCustomFormatters())) {
        out.push_back('\n');
    }
    return true;
}

void DDFileLogger::lt_logData(std::string_view data) {
    if (data.empty()) return;
    try {
        willLogMessage();
        const int fd = lt_currentLogFileHandle();
        if (fd < 0) {
            ddDiagnostic("DDFileLogger: Failed to seek to end of file: " + openFailure_);
            ddDiagnostic("DDFileLogger: Failed to write data: " + openFailure_);
        } else if (!writeAll(fd, data)) {
            // O_APPEND: the kernel moves to the end of the file with each write.
            ddDiagnostic("DDFileLogger: Failed to write data: " + errnoDescription(errno));
        }
        didLogMessage();
    } catch (const std::exception& e) {
        countException(e.what());
    } catch (...) {
        countException("unknown exception");
    }
}

int DDFileLogger::lt_currentLogFileHandle() {
    if (currentLogFileHandle_ >= 0) return currentLogFileHandle_;
    DDLogFileInfoPtr info = lt_currentLogFileInfo();
    if (!info) return -1;
    int error = 0;
    int fd = openForAppending(info->filePath(), error);
    if (fd < 0 && isLastingOpenFailure(error)) {
        // Gone, or not a regular file of ours (a planted link, another user's file): never write it, and do
        // not try it again at every write either; start a new file instead.
        info = lt_createNewCurrentLogFile();
        if (info) fd = openForAppending(info->filePath(), error);
    }
    if (fd < 0) {
        if (info) openFailure_ = errnoDescription(error);
        return -1;
    }
    currentLogFileHandle_ = fd;
    // Positions the descriptor at the end, so that a size check before the first write sees the length.
    if (::lseek(fd, 0, SEEK_END) < 0) {
        ddDiagnostic("DDFileLogger: Failed to seek to end of file: " + errnoDescription(errno));
    }
    lt_scheduleTimerToRollLogFileDueToAge();
    lt_monitorCurrentLogFileForExternalChanges();
    return fd;
}

DDLogFileInfoPtr DDFileLogger::lt_currentLogFileInfo() {
    DDLogFileInfoPtr candidate = currentLogFileInfo_;
    const bool isResuming = candidate == nullptr;
    if (isResuming) {
        std::vector<DDLogFileInfoPtr> sorted = logFileManager_->sortedLogFileInfos();
        if (!sorted.empty()) candidate = sorted.front();
    }
    if (candidate && lt_shouldUseLogFile(candidate, isResuming)) {
        currentLogFileInfo_ = candidate;
        return currentLogFileInfo_;
    }
    return lt_createNewCurrentLogFile();
}

DDLogFileInfoPtr DDFileLogger::lt_createNewCurrentLogFile() {
    std::error_code error;
    const std::optional<std::string> path = logFileManager_->createNewLogFileWithError(error);
    if (!path) {
        openFailure_ = error.message();
        ddDiagnostic("DDFileLogger: Failed to create new log file: " + openFailure_);
    }
    currentLogFileInfo_ = DDLogFileInfo::logFileWithPath(path, clock_);
    return currentLogFileInfo_;
}

bool DDFileLogger::lt_shouldUseLogFile(const DDLogFileInfoPtr& info, bool isResuming) {
    if (info->isArchived()) return false;
    if (!isResuming) return true;
    if (doNotReuseLogFiles() || lt_shouldLogFileBeArchived(info)) {
        info->setIsArchived(true);
        lt_notifyArchived(info->filePath(), false);
        return false;
    }
    return true;
}

bool DDFileLogger::lt_shouldLogFileBeArchived(const DDLogFileInfoPtr& info) {
    if (shouldArchiveRecentLogFileInfo(info)) return true;
    if (maximumFileSize_ > 0 && info->fileSize() >= maximumFileSize_) return true;
    if (rollingFrequency_ > 0.0 && info->age() >= rollingFrequency_) return true;
    return false;
}

void DDFileLogger::lt_notifyArchived(const std::string& path, bool wasRolled) {
    completionQueue_->async(
        [manager = logFileManager_, path, wasRolled] { manager->didArchiveLogFile(path, wasRolled); });
}

void DDFileLogger::lt_maybeRollLogFileDueToSize() {
    if (currentLogFileHandle_ < 0 || maximumFileSize_ == 0) return;
    // After an append the position is the file's length: no stat per write.
    const off_t position = ::lseek(currentLogFileHandle_, 0, SEEK_CUR);
    if (position < 0) {
        ddDiagnostic("DDFileLogger: Failed to get offset: " + errnoDescription(errno));
        return;
    }
    if (static_cast<std::uint64_t>(position) >= maximumFileSize_) lt_rollLogFileNow();
}

void DDFileLogger::lt_maybeRollLogFileDueToAge() {
    const double age = currentLogFileInfo_ ? currentLogFileInfo_->age() : 0.0;
    // One second of tolerance matches the timer's leeway, so a timer that fires slightly early still rolls.
    if (rollingFrequency_ > 0.0 && age + 1.0 >= rollingFrequency_) {
        lt_rollLogFileNow();
    } else {
        lt_scheduleTimerToRollLogFileDueToAge();
    }
}

void DDFileLogger::lt_scheduleTimerToRollLogFileDueToAge() {
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
    if (!currentLogFileInfo_ || rollingFrequency_ <= 0.0) return;

    using namespace std::chrono;
    const auto toSeconds = [](DDLogFileInfo::TimePoint t) {
        return duration<double>(t.time_since_epoch()).count() - kReferenceDateOffset;
    };
    const double created = toSeconds(currentLogFileInfo_->creationDate().value_or(now()));
    const double rollDate = created + std::min(rollingFrequency_, DBL_MAX - created);
    const double delay = std::clamp(rollDate - toSeconds(now()), 0.0, kMaxTimerSeconds);

    auto timer = dispatch::TimerSource::create(loggerQueue_);
    timer->setEventHandler([weak = weakSelf(), identity = timer.get()] {
        auto self = weak.lock();
        if (self && self->rollingTimer_.get() == identity) self->lt_maybeRollLogFileDueToAge();
    });
    timer->setTimer(dispatch::TimerSource::Clock::now() + nanoseconds(static_cast<std::int64_t>(delay * 1e9)),
                    dispatch::TimerSource::kNever, seconds(1));
    timer->resume();
    rollingTimer_ = std::move(timer);
}

void DDFileLogger::lt_monitorCurrentLogFileForExternalChanges() {
    using Event = dispatch::FileWatchSource::Event;
    auto watch = dispatch::FileWatchSource::create(
        currentLogFileHandle_, Event::Delete | Event::Rename | Event::Revoke, loggerQueue_);
    if (!watch) return;
    watch->setEventHandler([weak = weakSelf(), identity = watch.get()](std::uint32_t) {
        auto self = weak.lock();
        if (self && self->currentLogFileVnode_.get() == identity) self->lt_rollLogFileNow();
    });
    watch->resume();
    currentLogFileVnode_ = std::move(watch);
}

void DDFileLogger::lt_closeCurrentFile() {
    // The watch needs the descriptor open until it is cancelled.
    if (currentLogFileVnode_) {
        currentLogFileVnode_->cancel();
        currentLogFileVnode_.reset();
    }
    if (currentLogFileHandle_ < 0) return;
    if (::fsync(currentLogFileHandle_) != 0) {
        ddDiagnostic("DDFileLogger: Failed to synchronize file: " + errnoDescription(errno));
    }
    if (::close(currentLogFileHandle_) != 0) {
        ddDiagnostic("DDFileLogger: Failed to close file: " + errnoDescription(errno));
    }
    currentLogFileHandle_ = -1;
}

void DDFileLogger::lt_rollLogFileNow() {
    if (currentLogFileHandle_ < 0) return;
    lt_closeCurrentFile();
    if (currentLogFileInfo_) {
        currentLogFileInfo_->setIsArchived(true);
        lt_notifyArchived(currentLogFileInfo_->filePath(), true);
    }
    currentLogFileInfo_.reset();
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
}

void DDFileLogger::lt_flush() {
    if (currentLogFileHandle_ >= 0 && ::fsync(currentLogFileHandle_) != 0) {
        ddDiagnostic("DDFileLogger: Failed to synchronize file: " + errnoDescription(errno));
    }
}

void DDFileLogger::lt_cleanup() {
    lt_closeCurrentFile();
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
}

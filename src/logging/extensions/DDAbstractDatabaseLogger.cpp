#include "logging/extensions/DDAbstractDatabaseLogger.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

using std::chrono::nanoseconds;
using Duration = DDTimerClock::Duration;
using TimePoint = DDTimerClock::TimePoint;

// About 31 years: longer settings mean "practically never" and must not overflow the clock's arithmetic.
constexpr double kMaxTimerSeconds = 1e9;
constexpr Duration kLeeway = std::chrono::seconds(1);

Duration toDuration(double seconds) {
    // At least 1 ns: a zero interval would make the timer fire once instead of repeating.
    return std::max(nanoseconds(static_cast<std::int64_t>(std::min(seconds, kMaxTimerSeconds) * 1e9)),
                    nanoseconds(1));
}

}  // namespace

DDAbstractDatabaseLogger::DDAbstractDatabaseLogger(std::shared_ptr<DDTimerClock> clock)
    : clock_(clock ? std::move(clock) : DDTimerClock::system()) {}

DDAbstractDatabaseLogger::~DDAbstractDatabaseLogger() {
    destroySaveTimer();
    destroyDeleteTimer();
}

template <typename Work>
void DDAbstractDatabaseLogger::onLoggerQueue(Work work) {
    if (isOnInternalLoggerQueue()) {
        work();
        return;
    }
    loggerQueue_->async([self = weak_from_this().lock(), work = std::move(work)] { work(); });
}

template <typename Member>
std::function<void()> DDAbstractDatabaseLogger::weakHandler(Member member) {
    return [weak = weak_from_this(), member] {
        if (const auto self = weak.lock()) (static_cast<DDAbstractDatabaseLogger*>(self.get())->*member)();
    };
}

std::uint64_t DDAbstractDatabaseLogger::saveThreshold() {
    return readSetting([this] { return saveThreshold_; });
}

void DDAbstractDatabaseLogger::setSaveThreshold(std::uint64_t threshold) {
    changeSetting([this, threshold] { applySaveThreshold(threshold); });
}

double DDAbstractDatabaseLogger::saveInterval() {
    return readSetting([this] { return saveInterval_; });
}

void DDAbstractDatabaseLogger::setSaveInterval(double seconds) {
    changeSetting([this, seconds] { applySaveInterval(seconds); });
}

double DDAbstractDatabaseLogger::maxAge() {
    return readSetting([this] { return maxAge_; });
}

void DDAbstractDatabaseLogger::setMaxAge(double seconds) {
    changeSetting([this, seconds] { applyMaxAge(seconds); });
}

double DDAbstractDatabaseLogger::deleteInterval() {
    return readSetting([this] { return deleteInterval_; });
}

void DDAbstractDatabaseLogger::setDeleteInterval(double seconds) {
    changeSetting([this, seconds] { applyDeleteInterval(seconds); });
}

bool DDAbstractDatabaseLogger::deleteOnEverySave() {
    return readSetting([this] { return deleteOnEverySave_; });
}

void DDAbstractDatabaseLogger::setDeleteOnEverySave(bool value) {
    changeSetting([this, value] { deleteOnEverySave_ = value; });
}

void DDAbstractDatabaseLogger::savePendingLogEntries() {
    onLoggerQueue([this] { performSaveAndSuspendSaveTimer(); });
}

void DDAbstractDatabaseLogger::deleteOldLogEntries() {
    onLoggerQueue([this] { performDelete(); });
}

bool DDAbstractDatabaseLogger::db_log(const DDLogMessagePtr& message) {
    (void)message;
    return false;
}

void DDAbstractDatabaseLogger::logMessage(const DDLogMessagePtr& message) {
    if (!db_log(message)) return;
    const bool first = unsavedCount_++ == 0;
    if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
        performSaveAndSuspendSaveTimer();
    } else if (first) {
        unsavedTime_ = clock_->now();
        updateAndResumeSaveTimer();
    }
}

void DDAbstractDatabaseLogger::flush() {
    performSaveAndSuspendSaveTimer();
}

void DDAbstractDatabaseLogger::didAddLogger() {
    createSuspendedSaveTimer();
    createAndStartDeleteTimer();
}

void DDAbstractDatabaseLogger::willRemoveLogger() {
    performSaveAndSuspendSaveTimer();
    destroySaveTimer();
    destroyDeleteTimer();
}

void DDAbstractDatabaseLogger::performSaveAndSuspendSaveTimer() {
    if (unsavedCount_ > 0) {
        if (deleteOnEverySave_) {
            db_saveAndDelete();
        } else {
            db_save();
        }
    }
    unsavedCount_ = 0;
    unsavedTime_ = TimePoint{};
    if (saveTimer_ && saveTimerSuspended_ == 0) {
        saveTimer_->suspend();
        saveTimerSuspended_ = 1;
    }
}

void DDAbstractDatabaseLogger::performDelete() {
    if (maxAge_ <= 0) return;
    db_delete();
    lastDeleteTime_ = clock_->now();
}

void DDAbstractDatabaseLogger::createSuspendedSaveTimer() {
    if (saveTimer_ || !(saveInterval_ > 0)) return;
    saveTimer_ = clock_->createTimer(loggerQueue_,
                                     weakHandler(&DDAbstractDatabaseLogger::performSaveAndSuspendSaveTimer));
    saveTimerSuspended_ = -1;
}

void DDAbstractDatabaseLogger::updateAndResumeSaveTimer() {
    if (!saveTimer_ || !(saveInterval_ > 0) || unsavedTime_ == TimePoint{}) return;
    const Duration interval = toDuration(saveInterval_);
    saveTimer_->setTimer(unsavedTime_ + interval, interval, kLeeway);
    if (saveTimerSuspended_ != 0) {
        saveTimer_->resume();
        saveTimerSuspended_ = 0;
    }
}

void DDAbstractDatabaseLogger::destroySaveTimer() {
    if (!saveTimer_) return;
    saveTimer_->cancel();
    saveTimer_.reset();
    saveTimerSuspended_ = 0;
}

void DDAbstractDatabaseLogger::createAndStartDeleteTimer() {
    if (deleteTimer_ || !(deleteInterval_ > 0) || !(maxAge_ > 0)) return;
    deleteTimer_ = clock_->createTimer(loggerQueue_, weakHandler(&DDAbstractDatabaseLogger::performDelete));
    updateDeleteTimer();
    deleteTimer_->resume();
}

void DDAbstractDatabaseLogger::updateDeleteTimer() {
    if (!deleteTimer_ || !(deleteInterval_ > 0) || !(maxAge_ > 0)) return;
    const Duration interval = toDuration(deleteInterval_);
    const TimePoint from = lastDeleteTime_ == TimePoint{} ? clock_->now() : lastDeleteTime_;
    deleteTimer_->setTimer(from + interval, interval, kLeeway);
}

void DDAbstractDatabaseLogger::destroyDeleteTimer() {
    if (!deleteTimer_) return;
    deleteTimer_->cancel();
    deleteTimer_.reset();
}

void DDAbstractDatabaseLogger::applySaveThreshold(std::uint64_t threshold) {
    if (threshold == saveThreshold_) return;
    saveThreshold_ = threshold;
    if (threshold != 0 && unsavedCount_ >= threshold) performSaveAndSuspendSaveTimer();
}

void DDAbstractDatabaseLogger::applySaveInterval(double seconds) {
    if (seconds == saveInterval_) return;
    saveInterval_ = seconds;
    if (seconds > 0) {
        createSuspendedSaveTimer();
        updateAndResumeSaveTimer();
    } else {
        destroySaveTimer();
    }
}

void DDAbstractDatabaseLogger::applyMaxAge(double seconds) {
    if (seconds == maxAge_) return;
    const double old = maxAge_;
    maxAge_ = seconds;
    if (old > 0 && seconds <= 0) {
        destroyDeleteTimer();
    } else if (seconds > 0 && (old <= 0 || seconds < old)) {
        performDelete();
        if (deleteTimer_) {
            updateDeleteTimer();
        } else {
            createAndStartDeleteTimer();
        }
    }
}

void DDAbstractDatabaseLogger::applyDeleteInterval(double seconds) {
    if (seconds == deleteInterval_) return;
    deleteInterval_ = seconds;
    if (seconds > 0) {
        if (deleteTimer_) {
            updateDeleteTimer();
        } else {
            createAndStartDeleteTimer();
        }
    } else {
        destroyDeleteTimer();
    }
}

#pragma once

#include <cstdint>
#include <memory>

#include "logging/DDAbstractLogger.h"
#include "logging/extensions/DDTimerClock.h"

// The base of loggers that keep records in a store. It touches no store itself: it counts the records a
// subclass has taken in (`db_log` returned true) but not yet saved, and calls the subclass's hooks to save
// them (when their number reaches `saveThreshold`, `saveInterval` after the first of them, on flush, on
// `savePendingLogEntries` and when the logger is removed) and to delete entries older than `maxAge` (every
// `deleteInterval`, on `deleteOldLogEntries`, and at once when `maxAge` is switched on or lowered).
//
// Queues: the hooks, the counters and both timers live on the logger's queue (`loggerQueue()`); the hooks
// read the settings as the plain protected fields. From any other thread the settings are reached in two
// hops (the dispatcher's logging queue, then this logger's queue): setters return at once and apply in log
// order, getters block. Never call a getter from the logging queue or from this logger's queue (they would
// wait for themselves). `savePendingLogEntries` and `deleteOldLogEntries` queue their work on the logger's
// queue (or run in place there) and return.
//
// The timers hold the logger weakly: a logger that nobody else holds is destroyed, and its timers with it.
// Create through `std::make_shared` (or a subclass's factory). `clock` null: the system clock.
class DDAbstractDatabaseLogger : public DDAbstractLogger {
  public:
    explicit DDAbstractDatabaseLogger(std::shared_ptr<DDTimerClock> clock = nullptr);
    ~DDAbstractDatabaseLogger() override;

    // Unsaved entries that cause a save; 0 turns saving by count off. Default 500.
    std::uint64_t saveThreshold();
    void setSaveThreshold(std::uint64_t threshold);
    // Seconds an entry stays unsaved at most; 0 or less turns the save timer off. Default 60.
    double saveInterval();
    void setSaveInterval(double seconds);
    // Seconds after which entries are deleted; 0 or less turns deleting off. Default 7 days.
    double maxAge();
    void setMaxAge(double seconds);
    // Seconds between deletions; 0 or less turns the delete timer off. Default 300.
    double deleteInterval();
    void setDeleteInterval(double seconds);
    // Every save also deletes, through the one `db_saveAndDelete` hook. Default false.
    bool deleteOnEverySave();
    void setDeleteOnEverySave(bool value);

    void savePendingLogEntries();
    void deleteOldLogEntries();

    void logMessage(const DDLogMessagePtr& message) override;
    void flush() override;
    void didAddLogger() override;
    void willRemoveLogger() override;

  protected:
    // The subclass's hooks, all on the logger's queue. `db_log` returns true when it took the record into
    // its pending entries (only those are counted); the base applies no formatter.
    virtual bool db_log(const DDLogMessagePtr& message);
    virtual void db_save() {}
    virtual void db_delete() {}
    virtual void db_saveAndDelete() {}

    const std::shared_ptr<DDTimerClock>& clock() const { return clock_; }

    // The settings, read and written only on the logger's queue.
    std::uint64_t saveThreshold_ = 500;
    double saveInterval_ = 60.0;
    double maxAge_ = 604800.0;
    double deleteInterval_ = 300.0;
    bool deleteOnEverySave_ = false;

  private:
    using TimePoint = DDTimerClock::TimePoint;

    void performSaveAndSuspendSaveTimer();
    void performDelete();
    void createSuspendedSaveTimer();
    void updateAndResumeSaveTimer();
    void destroySaveTimer();
    void createAndStartDeleteTimer();
    void updateDeleteTimer();
    void destroyDeleteTimer();
    void applySaveThreshold(std::uint64_t threshold);
    void applySaveInterval(double seconds);
    void applyMaxAge(double seconds);
    void applyDeleteInterval(double seconds);
    // Runs `work` on the logger's queue: in place when already there, else queued.
    template <typename Work>
    void onLoggerQueue(Work work);
    // A timer handler that reaches this logger only while it lives.
    template <typename Member>
    std::function<void()> weakHandler(Member member);

    const std::shared_ptr<DDTimerClock> clock_;
    // -1 created but never started, 0 running, 1 suspended.
    std::int64_t saveTimerSuspended_ = 0;
    std::uint64_t unsavedCount_ = 0;
    TimePoint unsavedTime_{};  // the epoch stands for "no unsaved entry"
    std::unique_ptr<DDTimerClock::Timer> saveTimer_;
    TimePoint lastDeleteTime_{};  // the epoch stands for "never"
    std::unique_ptr<DDTimerClock::Timer> deleteTimer_;
};

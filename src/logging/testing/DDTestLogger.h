#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/DDAbstractLogger.h"

// A logger for tests: records what it is given (formatted with its formatter when it has one), notes flushes
// and notifications, can be slowed down, and counts calls that the dispatcher made concurrently or off its
// queue. Create with `DDTestLogger::create()`; set the delay and the hook before registering it.
class DDTestLogger : public DDAbstractLogger {
  public:
    explicit DDTestLogger(std::string name) : name_(std::move(name)) { initLoggerQueue(); }

    static std::shared_ptr<DDTestLogger> create(std::string name = "test.logger") {
        return std::make_shared<DDTestLogger>(std::move(name));
    }

    std::string loggerName() override { return name_; }

    void logMessage(const DDLogMessagePtr& message) override {
        enter();
        if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
        std::string text = message->message();
        if (logFormatter_) {
            DDText formatted = logFormatter_->formatLogMessage(*message);
            text = formatted ? *formatted : "(nothing)";
        }
        if (onLog_) onLog_(message);
        std::lock_guard lock(mutex_);
        records_.push_back(message);
        texts_.push_back(std::move(text));
        leave();
    }
    void flush() override {
        enter();
        std::lock_guard lock(mutex_);
        flushes_.push_back(records_.size());
        leave();
    }
    void didAddLoggerInQueue(const std::shared_ptr<dispatch::SerialQueue>& queue) override {
        note(queue == loggerQueue_ && isOnInternalLoggerQueue() ? "didAdd" : "didAdd(wrong queue)");
    }
    void willRemoveLogger() override {
        note(isOnInternalLoggerQueue() ? "willRemove" : "willRemove(wrong queue)");
    }

    void setDelay(std::chrono::microseconds delay) { delay_ = delay; }
    void setOnLog(std::function<void(const DDLogMessagePtr&)> onLog) { onLog_ = std::move(onLog); }

    std::vector<DDLogMessagePtr> records() const { return locked(records_); }
    std::vector<std::string> texts() const { return locked(texts_); }
    std::size_t count() const { return records().size(); }
    std::vector<std::size_t> flushes() const { return locked(flushes_); }  // the record count at each flush
    std::vector<std::string> events() const { return locked(events_); }
    int violations() const { return violations_.load(); }  // must stay 0

  private:
    void enter() {
        if (busy_.exchange(true) || !isOnInternalLoggerQueue()) ++violations_;
    }
    void leave() { busy_.store(false); }
    void note(const char* event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    template <typename T>
    T locked(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }

    const std::string name_;
    std::chrono::microseconds delay_{0};
    std::function<void(const DDLogMessagePtr&)> onLog_;
    mutable std::mutex mutex_;
    std::vector<DDLogMessagePtr> records_;
    std::vector<std::string> texts_;
    std::vector<std::size_t> flushes_;
    std::vector<std::string> events_;
    std::atomic<bool> busy_{false};
    std::atomic<int> violations_{0};
};

// Hands a record to `logger` on its own queue, as the dispatcher does.
template <typename Logger>
void deliver(Logger& logger, const DDLogMessagePtr& message) {
    logger.loggerQueue()->sync([&] { logger.logMessage(message); });
}

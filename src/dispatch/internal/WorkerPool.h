#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace dispatch::internal {

// The threads that run queue work. Threads start lazily: a task submitted while no idle thread is waiting
// starts a new one (up to kMaxThreads), because tasks may block in synchronous calls and group waits and the
// pool must not starve them. A thread idle for longer than the idle timeout exits, so an idle process holds
// no worker threads and sees no wake-ups. Thread-safe; the instance is never destroyed.
class WorkerPool {
  public:
    using Task = std::function<void()>;
    static constexpr std::size_t kMaxThreads = 512;

    static WorkerPool& instance();

    void submit(Task task);
    // For tests: how long an idle thread lingers (5 s by default).
    void setIdleTimeout(std::chrono::nanoseconds timeout);
    std::size_t threadCount() const;
    // True when tasks wait for a thread (a hint: read without the lock).
    bool hasQueuedTasks() const { return queued_.load(std::memory_order_relaxed) != 0; }

  private:
    void startThreadLocked();
    void workerMain();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;                                         // guarded by mutex_
    std::atomic<std::size_t> queued_{0};                             // tasks_.size(), written under mutex_
    std::size_t idle_ = 0;                                           // guarded: threads waiting for a task
    std::size_t threads_ = 0;                                        // guarded: live threads
    std::chrono::nanoseconds idleTimeout_{std::chrono::seconds(5)};  // guarded
};

}  // namespace dispatch::internal

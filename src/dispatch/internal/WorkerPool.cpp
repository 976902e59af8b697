#include "dispatch/internal/WorkerPool.h"

#include <pthread.h>

#include <cstdio>
#include <system_error>
#include <thread>

#include "dispatch/internal/NoDestructor.h"

namespace dispatch::internal {

WorkerPool& WorkerPool::instance() {
    static NoDestructor<WorkerPool> pool;
    return *pool;
}

void WorkerPool::submit(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        queued_.store(tasks_.size(), std::memory_order_relaxed);
        // Each idle thread takes one task; start a thread when queued tasks outnumber them.
        if (tasks_.size() > idle_ && threads_ < kMaxThreads) {
            startThreadLocked();
            return;
        }
    }
    // Outside the lock, so that the woken thread does not block on it at once.
    wake_.notify_one();
}

void WorkerPool::startThreadLocked() {
    try {
        std::thread thread([this] { workerMain(); });
        // Unnamed, like any pool thread: the name must not suggest a particular queue in log records.
        pthread_setname_np(thread.native_handle(), "");
        thread.detach();
        ++threads_;
    } catch (const std::system_error& error) {
        // Out of threads: the task waits for a running one.
        std::fprintf(stderr, "dispatch: cannot start a worker thread: %s\n", error.what());
        wake_.notify_one();
    }
}

void WorkerPool::setIdleTimeout(std::chrono::nanoseconds timeout) {
    std::lock_guard lock(mutex_);
    idleTimeout_ = timeout;
    wake_.notify_all();
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

void WorkerPool::workerMain() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            queued_.store(tasks_.size(), std::memory_order_relaxed);
            lock.unlock();
            task();
            task = nullptr;  // release what the task holds before taking the lock again
            lock.lock();
            continue;
        }
        // Idle: wait for a task, or retire after the idle timeout (re-read on every wake-up so that a test
        // can shorten it for threads already waiting).
        ++idle_;
        const auto idleSince = std::chrono::steady_clock::now();
        while (tasks_.empty()) {
            const auto deadline = idleSince + idleTimeout_;
            if (std::chrono::steady_clock::now() >= deadline) break;
            wake_.wait_until(lock, deadline);
        }
        --idle_;
        if (tasks_.empty()) {
            --threads_;
            return;
        }
    }
}

}  // namespace dispatch::internal

#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "dispatch/Qos.h"

namespace dispatch {

class WorkItem;
class SerialQueue;
class ConcurrentQueue;

using Work = std::function<void()>;
using Duration = std::chrono::nanoseconds;

// A queue of work items: the common interface of serial queues, concurrent queues, the global queues and the
// main queue.
//
// Who calls it: any thread. Guarantees:
//  1. `async` returns at once; the item runs later on a worker thread (or the main thread for the main
//  queue).
//  2. `sync` returns only after the item has run. On an idle serial queue it may run the item on the calling
//     thread while holding the queue (order and mutual exclusion are kept); otherwise the caller blocks.
//  3. Everything an item wrote is visible to code that runs after `sync` returns, and to every later item
//     of the same serial queue.
//
// Waiting rules: `sync` blocks. Calling `sync` on a serial queue from work that this thread is already
// running for that queue (directly or further out in a nest of synchronous calls) deadlocks; so does a cycle
// of synchronous calls between queues. `sync` on the main queue from the main thread deadlocks.
//
// Lifetime: queues are shared (`std::shared_ptr`); queued work keeps its queue alive until it has run.
//
// Threads: items run on a shared pool of unnamed worker threads, started when work arrives and no idle worker
// is free (a worker blocked in `sync` or a group wait does not hold up other queues) and retired after 5 s
// without work. Delayed items and sources are timed by one internal event thread that sleeps while nothing
// is armed. An idle process therefore has no busy threads and no periodic wake-ups.
class Queue : public std::enable_shared_from_this<Queue> {
  public:
    virtual ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // The label given at creation ("" when none); stable for the queue's life. `sharedLabel` lets log records
    // keep the label without copying it.
    const std::string& label() const { return *label_; }
    const std::shared_ptr<const std::string>& sharedLabel() const { return label_; }
    Qos qos() const { return qos_; }

    virtual void async(Work work) = 0;
    // Blocking: see the waiting rules above.
    virtual void sync(const Work& work) = 0;

    // Runs `work` on this queue once `delay` has passed (a delay of 0 or less behaves like `async`).
    void asyncAfter(Duration delay, Work work);
    // A cancellable item: cancelling it before it starts keeps it from running.
    void async(std::shared_ptr<WorkItem> item);
    void asyncAfter(Duration delay, std::shared_ptr<WorkItem> item);

    // Queue-specific values. The key is an address the caller owns; the value is not owned by the queue.
    // Thread-safe.
    void setSpecific(const void* key, void* value);
    void* getSpecific(const void* key) const;

    // The value for `key` on the queue whose work the calling thread is running (the innermost one when
    // synchronous calls nest), or null when the thread runs no queue work.
    static void* currentSpecific(const void* key);
    // True when any queue the calling thread is running work for (innermost or further out in a nest of
    // synchronous calls) has a value for `key`.
    static bool anyCurrentHasSpecific(const void* key);
    // The innermost queue the calling thread is running work for, or null.
    static Queue* current();
    // The label of `current()`, or "" when there is none.
    static const std::shared_ptr<const std::string>& currentLabel();
    // True when the calling thread is running work for this queue, innermost or further out in a nest of
    // synchronous calls (so a `sync` on it from here would deadlock).
    bool isCurrent() const;

    // The main queue (label "com.apple.main-thread"), drained by `RunLoop::main()` on the thread that runs
    // it.
    static std::shared_ptr<SerialQueue> main();
    // The global concurrent queues: Default is labelled "com.apple.root.default-priority", UserInitiated and
    // UserInteractive share "com.apple.root.high-priority", Utility and Background share
    // "com.apple.root.low-priority". Barrier submission on them behaves as plain submission.
    static std::shared_ptr<ConcurrentQueue> global(Qos qos = Qos::Default);

  protected:
    Queue(std::string label, Qos qos);

  private:
    struct Specifics;
    const std::shared_ptr<const std::string> label_;
    const Qos qos_;
    std::unique_ptr<Specifics> specifics_;
};

}  // namespace dispatch

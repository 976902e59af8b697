#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "dispatch/Queue.h"

namespace dispatch {

// A serial queue: items run one at a time, in submission order, on whichever worker thread is free (never a
// particular thread). An idle serial queue holds no thread and causes no wake-ups.
//
// `sync` always runs the item on the caller's thread while the caller holds the queue. On an idle queue that
// costs two uncontended lock round trips (no thread switch, no wake-up); on a busy queue the caller blocks
// until the items before it have run and the queue is handed to it (one wake-up). The main queue is the
// exception: its items, synchronous ones included, run on the main thread. See Queue for the waiting rules.
//
// An asynchronous item on an idle queue wakes one worker, which then runs everything queued behind it
// (in batches, yielding between them when other queues wait for a thread); items added while the queue is
// busy cost no wake-up. A drain that has run a stream of items keeps its thread for up to 50 us after the
// queue runs dry, so that a steady producer does not pay a wake-up per refill.
class SerialQueue : public Queue {
  public:
    static std::shared_ptr<SerialQueue> create(std::string label = "", Qos qos = Qos::Default);
    ~SerialQueue() override;

    void async(Work work) override;
    void sync(const Work& work) override;
    using Queue::async;

  protected:
    SerialQueue(std::string label, Qos qos);

  private:
    friend class RunLoop;
    struct State;

    void scheduleDrain();
    // Runs what is queued, in batches, until the queue is empty or at least `limit` items have run; the
    // caller owns the queue. True when items remain and the caller must schedule another drain; false when
    // ownership was released or handed to a waiting synchronous caller.
    bool drainSome(std::size_t limit);
    // With the queue owned and empty: waits briefly for a new item without holding the lock. True when one
    // came.
    bool lingerForWork();
    // Gives up ownership after an inline synchronous item.
    void release();
    // Makes this the main queue: drains are requested through `wake` and run by the run loop.
    void setExternalWake(std::function<void()> wake);

    std::unique_ptr<State> state_;
};

}  // namespace dispatch

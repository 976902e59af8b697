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
// `sync` on an idle queue runs the item on the caller's thread while the queue is held (no thread switch and
// no wake-up); on a busy queue the caller waits its turn. See Queue for the waiting rules.
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
    // Runs up to `limit` items; the caller owns the queue. True when items remain and the caller must
    // schedule another drain; false when ownership was released or handed to a waiting synchronous caller.
    bool drainSome(std::size_t limit);
    // Gives up ownership after an inline synchronous item.
    void release();
    // Makes this the main queue: drains are requested through `wake` and run by the run loop.
    void setExternalWake(std::function<void()> wake);

    std::unique_ptr<State> state_;
};

}  // namespace dispatch

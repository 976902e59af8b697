#pragma once

#include <chrono>
#include <memory>

#include "dispatch/Queue.h"

namespace dispatch {

// A group of work items, possibly on several queues, that can be waited for as one.
//
// `wait` blocks until every member submitted (or entered) before it has finished. It must not be called from
// a queue that a member needs to run on (that member could never start). `notify` queues `work` on `queue`
// once the group is empty. Thread-safe; a group is reusable once empty.
class Group {
  public:
    Group();
    ~Group();
    Group(const Group&) = delete;
    Group& operator=(const Group&) = delete;

    void async(Queue& queue, Work work);
    void enter();
    void leave();
    // Blocking, see above.
    void wait();
    // Blocking for at most `timeout`; true when the group became empty.
    bool waitFor(std::chrono::nanoseconds timeout);
    void notify(std::shared_ptr<Queue> queue, Work work);

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dispatch

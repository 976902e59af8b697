#pragma once

#include <memory>
#include <string>

#include "dispatch/Queue.h"

namespace dispatch {

// A concurrent queue: plain items start in submission order and may overlap; a barrier item starts only after
// every item submitted before it has finished, runs alone, and items submitted after it start only once it
// has finished. On the global queues barriers are plain items.
class ConcurrentQueue : public Queue {
  public:
    static std::shared_ptr<ConcurrentQueue> create(std::string label = "", Qos qos = Qos::Default);
    ~ConcurrentQueue() override;

    void async(Work work) override;
    // Blocking: returns after the item has run (it may run on the caller's thread).
    void sync(const Work& work) override;
    void asyncBarrier(Work work);
    // Blocking: returns after the barrier item has run alone.
    void syncBarrier(const Work& work);
    using Queue::async;

  private:
    friend class Queue;
    ConcurrentQueue(std::string label, Qos qos, bool isGlobal);
    struct State;
    struct Item;

    void submit(Work work, bool barrier);
    void syncItem(const Work& work, bool barrier);
    // Starts the items at the head that may start now; called with the state's mutex held.
    void startReadyLocked();
    void start(Item& item);
    void finished(bool barrier);

    std::unique_ptr<State> state_;
};

}  // namespace dispatch

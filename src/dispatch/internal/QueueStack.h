#pragma once

namespace dispatch {
class Queue;
}

namespace dispatch::internal {

// The queues the calling thread is running work for, innermost first: a linked list of frames living on the
// thread's stack, one per item being run (an item run inline by a synchronous call included).
struct QueueFrame {
    Queue* queue;
    QueueFrame* outer;
};

inline thread_local QueueFrame* tlsQueueTop = nullptr;

// Marks the calling thread as running work for `queue` for the scope's life.
class QueueScope {
  public:
    explicit QueueScope(Queue* queue) : frame_{queue, tlsQueueTop} { tlsQueueTop = &frame_; }
    ~QueueScope() { tlsQueueTop = frame_.outer; }
    QueueScope(const QueueScope&) = delete;
    QueueScope& operator=(const QueueScope&) = delete;

  private:
    QueueFrame frame_;
};

}  // namespace dispatch::internal

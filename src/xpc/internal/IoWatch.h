#pragma once

#include <functional>
#include <memory>

#include "dispatch/SerialQueue.h"

namespace xpc::internal {

// Watches a socket for input, and for output room while asked to, calling back on a serial target queue:
// through the main run loop for the main queue (no thread hop), through descriptor sources otherwise.
//
// On the main queue the socket itself is watched, not a duplicate: keep it open until the watch is stopped.
// Create, stop and destroy it on the target queue. A callback may call `stop` but must not destroy the watch:
// `retire` stops it and destroys it later, outside the callback.
class IoWatch {
  public:
    virtual ~IoWatch() = default;
    virtual void setWantWrite(bool want) = 0;
    // No callback starts after this returns.
    virtual void stop() = 0;
    static void retire(std::unique_ptr<IoWatch> watch, const std::shared_ptr<dispatch::SerialQueue>& queue);

    // Null when the descriptor cannot be watched.
    static std::unique_ptr<IoWatch> create(int fd, const std::shared_ptr<dispatch::SerialQueue>& queue,
                                           std::function<void()> onReadable,
                                           std::function<void()> onWritable);
};

// Runs `work` at once when the calling thread already runs work for `queue`, else queues it there. Keeps the
// order of one thread's calls either way.
void runOn(const std::shared_ptr<dispatch::SerialQueue>& queue, std::function<void()> work);

}  // namespace xpc::internal

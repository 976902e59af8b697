#pragma once

#include <functional>
#include <memory>
#include <string>

#include "dispatch/RunLoop.h"
#include "xpc/internal/UniqueFd.h"

// Turns SIGTERM and SIGINT into a callback on the main run loop, so that the service ends in ordinary code
// (telling its connections, flushing its logs) instead of inside a signal handler.
//
// `block` must run on the main thread before any other thread exists: the signals are blocked for the
// process (threads inherit the mask) and then read from a signalfd. `watch` registers the callback; it runs
// on the main thread, between main-queue items, once per signal received. Destroy on the main thread.
class TerminationSignals {
  public:
    using Handler = std::function<void(int signalNumber)>;

    // Blocks the two signals for the calling thread and every thread it starts later. False when the mask
    // cannot be changed.
    static bool block();
    // Undoes `block`, for a process that cannot watch the signals after all (they then end it as usual).
    static void unblock();
    // Null, with the reason in `error`, when the signalfd cannot be made or watched.
    static std::unique_ptr<TerminationSignals> watch(Handler handler, std::string& error);

    ~TerminationSignals() = default;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

  private:
    TerminationSignals(xpc::internal::UniqueFd fd, Handler handler);
    void onReadable();

    xpc::internal::UniqueFd fd_;
    Handler handler_;
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
};

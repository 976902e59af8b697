#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "dispatch/internal/UniqueFd.h"

namespace dispatch {

// The main run loop: drains the main queue and calls descriptor callbacks, all on the thread that calls `run`
// (the main thread). Without work it sleeps in one blocking wait: no periodic wake-ups.
//
// `watch` registers a callback for a descriptor becoming readable or writable; it runs on the main thread
// between main-queue items and is level-triggered. The returned controller unregisters the watch when
// destroyed; destroy it on the main thread (or before the loop runs).
//
// `run` returns after `stop`, which any thread may call; a `stop` made while the loop is not running makes
// the next `run` return at once. `runFor` runs for at most a given time, for tests.
class RunLoop {
  public:
    enum Events : unsigned { Readable = 1, Writable = 2 };
    class Watch {
      public:
        virtual ~Watch() = default;
        // Changes the events watched (for example Writable only while output is pending).
        virtual void setEvents(unsigned events) = 0;
    };

    static RunLoop& main();

    void run();
    void runFor(std::chrono::nanoseconds duration);
    void stop();
    bool isRunning() const;

    // The callback receives the ready events (Readable/Writable, plus Readable for hang-up and error).
    // `watch` works on its own duplicate of `fd`, so the same descriptor may be watched twice.
    std::unique_ptr<Watch> watch(int fd, unsigned events, std::function<void(unsigned ready)> callback);
    // The same without a duplicate, for a descriptor that nothing else watches (one descriptor per client
    // instead of two): the caller keeps `fd` open until the watch is destroyed or set to no events.
    std::unique_ptr<Watch> watchAlone(int fd, unsigned events, std::function<void(unsigned ready)> callback);

  private:
    friend class Queue;
    class WatchImpl;
    std::unique_ptr<Watch> add(int fd, internal::UniqueFd own, unsigned events,
                               std::function<void(unsigned ready)> callback);
    RunLoop();
    ~RunLoop();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dispatch

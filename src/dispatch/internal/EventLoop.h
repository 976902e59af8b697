#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "dispatch/internal/UniqueFd.h"

namespace dispatch::internal {

// The one internal event thread behind delayed submission, timer sources, file watches and descriptor
// sources. It sleeps in epoll on a timerfd armed for the next due timer, an inotify descriptor and the
// watched descriptors; with nothing armed it blocks indefinitely. Started on first use, never stopped.
//
// Callbacks run on the event thread and must only hand work on (queue an item), never block. A callback may
// still run shortly after its registration was removed, when it had already been picked up: callers check
// their own cancelled state. Thread-safe.
class EventLoop {
  public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;

    static EventLoop& instance();

    // Calls `fire` once, no earlier than `deadline` and, when other timers allow batching, up to `leeway`
    // later.
    Id addTimer(Clock::time_point deadline, Clock::duration leeway, std::function<void()> fire);
    // True when the timer was removed before it fired.
    bool cancelTimer(Id id);

    // Watches a duplicate of `fd` for `events` (EPOLLIN / EPOLLOUT), one shot: after `ready` has been called
    // the descriptor is not watched until `rearmFd`. 0 when the descriptor cannot be watched (errno set).
    Id addFd(int fd, std::uint32_t events, std::function<void()> ready);
    void rearmFd(Id id);
    void removeFd(Id id);

    // Watches the file open on `fd` with inotify; `changed` gets each event's inotify mask. 0 on failure.
    Id addFileWatch(int fd, std::function<void(std::uint32_t mask)> changed);
    void removeFileWatch(Id id);

    // For tests: how many timers are armed.
    std::size_t timerCount();

  private:
    EventLoop();
    struct Timer {
        Clock::time_point deadline;
        Clock::time_point latest;
        std::function<void()> fire;
    };
    struct FdEntry {
        UniqueFd fd;
        std::uint32_t events;
        std::function<void()> ready;
    };
    struct FileWatch {
        int wd;
        std::function<void(std::uint32_t)> changed;
    };
    template <typename T>
    friend class NoDestructor;

    void threadMain();
    void armTimerfdLocked();
    void fireDueTimers();
    void readInotify();
    void fdReady(Id id);

    UniqueFd epoll_;
    UniqueFd timerfd_;
    UniqueFd inotify_;

    std::mutex mutex_;
    Id nextId_ = 16;                        // guarded; ids below are the loop's own descriptors
    std::unordered_map<Id, Timer> timers_;  // guarded
    std::set<std::pair<Clock::time_point, Id>> byDeadline_;  // guarded
    std::multiset<Clock::time_point> latest_;                // guarded
    Clock::time_point armedFor_ = Clock::time_point::max();  // guarded
    std::unordered_map<Id, FdEntry> fds_;                    // guarded
    std::unordered_map<Id, FileWatch> watches_;              // guarded
    std::multimap<int, Id> watchesByWd_;                     // guarded: inotify shares one wd per inode
};

}  // namespace dispatch::internal

#include "dispatch/internal/EventLoop.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <thread>

#include "dispatch/internal/NoDestructor.h"

namespace dispatch::internal {

namespace {
constexpr EventLoop::Id kTimerTag = 1;
constexpr EventLoop::Id kInotifyTag = 2;
constexpr std::uint32_t kFileWatchMask = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

void addToEpoll(int epoll, int fd, std::uint32_t events, EventLoop::Id tag) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) < 0) throwErrno("epoll_ctl");
}
}  // namespace

EventLoop& EventLoop::instance() {
    static NoDestructor<EventLoop> loop;
    return *loop;
}

EventLoop::EventLoop()
    : epoll_(epoll_create1(EPOLL_CLOEXEC)),
      timerfd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!epoll_.valid()) throwErrno("epoll_create1");
    if (!timerfd_.valid()) throwErrno("timerfd_create");
    addToEpoll(epoll_.get(), timerfd_.get(), EPOLLIN, kTimerTag);
    // Without inotify (limit reached) file watches fail to be created; everything else still works.
    if (inotify_.valid()) addToEpoll(epoll_.get(), inotify_.get(), EPOLLIN, kInotifyTag);
    std::thread thread([this] { threadMain(); });
    pthread_setname_np(thread.native_handle(), "dispatch-events");
    thread.detach();
}

EventLoop::Id EventLoop::addTimer(Clock::time_point deadline, Clock::duration leeway,
                                  std::function<void()> fire) {
    if (leeway < Clock::duration::zero()) leeway = Clock::duration::zero();
    const auto latest =
        deadline > Clock::time_point::max() - leeway ? Clock::time_point::max() : deadline + leeway;
    std::lock_guard lock(mutex_);
    const Id id = nextId_++;
    timers_.emplace(id, Timer{deadline, latest, std::move(fire)});
    byDeadline_.emplace(deadline, id);
    latest_.insert(latest);
    armTimerfdLocked();
    return id;
}

bool EventLoop::cancelTimer(Id id) {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return false;
    byDeadline_.erase({it->second.deadline, id});
    latest_.erase(latest_.find(it->second.latest));
    timers_.erase(it);
    armTimerfdLocked();
    return true;
}

std::size_t EventLoop::timerCount() {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

// Wakes at the latest moment that is still within every timer's window (the earliest deadline + leeway), but
// no later than the last deadline due by then, so that a lone timer fires on time and timers with leeway
// that fall due close together share one wake-up.
void EventLoop::armTimerfdLocked() {
    Clock::time_point wake = Clock::time_point::max();
    if (!timers_.empty()) {
        const auto bound = *latest_.begin();
        auto last = byDeadline_.upper_bound({bound, ~Id{0}});
        wake = std::prev(last)->first;
    }
    if (wake == armedFor_) return;
    armedFor_ = wake;
    itimerspec when{};
    if (wake != Clock::time_point::max()) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake.time_since_epoch()).count();
        // 0 would disarm: a deadline at the clock's origin is simply due.
        when.it_value.tv_sec = ns / 1000000000;
        when.it_value.tv_nsec = ns % 1000000000;
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    timerfd_settime(timerfd_.get(), TFD_TIMER_ABSTIME, &when, nullptr);
}

void EventLoop::fireDueTimers() {
    std::uint64_t expirations;
    [[maybe_unused]] auto n = ::read(timerfd_.get(), &expirations, sizeof expirations);
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        while (!byDeadline_.empty() && byDeadline_.begin()->first <= now) {
            const Id id = byDeadline_.begin()->second;
            byDeadline_.erase(byDeadline_.begin());
            auto it = timers_.find(id);
            latest_.erase(latest_.find(it->second.latest));
            due.push_back(std::move(it->second.fire));
            timers_.erase(it);
        }
        armedFor_ = Clock::time_point::min();  // the timerfd has expired: always re-arm
        armTimerfdLocked();
    }
    for (auto& fire : due) fire();
}

EventLoop::Id EventLoop::addFd(int fd, std::uint32_t events, std::function<void()> ready) {
    UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 3));
    if (!own.valid()) return 0;
    std::lock_guard lock(mutex_);
    const Id id = nextId_++;
    epoll_event event{};
    event.events = events | EPOLLONESHOT;
    event.data.u64 = id;
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, own.get(), &event) < 0) return 0;
    fds_.emplace(id, FdEntry{std::move(own), events, std::move(ready)});
    return id;
}

void EventLoop::rearmFd(Id id) {
    std::lock_guard lock(mutex_);
    auto it = fds_.find(id);
    if (it == fds_.end()) return;
    epoll_event event{};
    event.events = it->second.events | EPOLLONESHOT;
    event.data.u64 = id;
    epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, it->second.fd.get(), &event);
}

void EventLoop::removeFd(Id id) {
    std::lock_guard lock(mutex_);
    auto it = fds_.find(id);
    if (it == fds_.end()) return;
    epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, it->second.fd.get(), nullptr);
    fds_.erase(it);
}

void EventLoop::fdReady(Id id) {
    std::function<void()> ready;
    {
        std::lock_guard lock(mutex_);
        auto it = fds_.find(id);
        if (it == fds_.end()) return;
        ready = it->second.ready;
    }
    ready();
}

EventLoop::Id EventLoop::addFileWatch(int fd, std::function<void(std::uint32_t)> changed) {
    if (!inotify_.valid()) {
        errno = EMFILE;
        return 0;
    }
    // The magic link names the open file itself, even when it has been renamed or unlinked.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    std::lock_guard lock(mutex_);
    // Every watch on one inode shares one descriptor and one mask; all of ours use the same mask.
    const int wd = inotify_add_watch(inotify_.get(), path.c_str(), kFileWatchMask);
    if (wd < 0) return 0;
    const Id id = nextId_++;
    watches_.emplace(id, FileWatch{wd, std::move(changed)});
    watchesByWd_.emplace(wd, id);
    return id;
}

void EventLoop::removeFileWatch(Id id) {
    std::lock_guard lock(mutex_);
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    const int wd = it->second.wd;
    watches_.erase(it);
    auto [first, last] = watchesByWd_.equal_range(wd);
    for (auto w = first; w != last; ++w) {
        if (w->second == id) {
            watchesByWd_.erase(w);
            break;
        }
    }
    if (watchesByWd_.count(wd) == 0) inotify_rm_watch(inotify_.get(), wd);
}

void EventLoop::readInotify() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
        if (n <= 0) return;
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            std::vector<std::function<void(std::uint32_t)>> targets;
            {
                std::lock_guard lock(mutex_);
                auto [first, last] = watchesByWd_.equal_range(event->wd);
                for (auto w = first; w != last; ++w) targets.push_back(watches_.at(w->second).changed);
                if (event->mask & IN_IGNORED) {
                    // The kernel dropped the watch (file gone or unmounted): forget it.
                    for (auto w = first; w != last; ++w) watches_.erase(w->second);
                    watchesByWd_.erase(first, last);
                }
            }
            for (auto& changed : targets) changed(event->mask);
        }
    }
}

void EventLoop::threadMain() {
    std::array<epoll_event, 64> events;
    for (;;) {
        const int n = epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()), -1);
        for (int i = 0; i < n; ++i) {
            const Id tag = events[static_cast<std::size_t>(i)].data.u64;
            if (tag == kTimerTag) {
                fireDueTimers();
            } else if (tag == kInotifyTag) {
                readInotify();
            } else {
                fdReady(tag);
            }
        }
    }
}

}  // namespace dispatch::internal

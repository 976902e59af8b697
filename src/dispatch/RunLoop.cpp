#include "dispatch/RunLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <fcntl.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "dispatch/SerialQueue.h"
#include "dispatch/internal/QueueStack.h"
#include "dispatch/internal/UniqueFd.h"

namespace dispatch {

namespace {
constexpr std::uint64_t kWakeTag = 0;
// Main-queue items run between two looks at the descriptors.
constexpr std::size_t kDrainBatch = 64;

struct MainQueue : SerialQueue {
    MainQueue() : SerialQueue("com.apple.main-thread", Qos::UserInteractive) {}
};

std::uint32_t toEpoll(unsigned events) {
    std::uint32_t mask = 0;
    if (events & RunLoop::Readable) mask |= EPOLLIN;
    if (events & RunLoop::Writable) mask |= EPOLLOUT;
    return mask;
}
}  // namespace

struct RunLoop::State {
    internal::UniqueFd epoll{epoll_create1(EPOLL_CLOEXEC)};
    internal::UniqueFd wake{eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
    std::shared_ptr<SerialQueue> mainQueue = std::make_shared<MainQueue>();
    std::atomic<bool> drainRequested{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};

    std::mutex mutex;
    std::uint64_t nextId = 1;                                                                   // guarded
    std::unordered_map<std::uint64_t, std::shared_ptr<std::function<void(unsigned)>>> watches;  // guarded

    void signal() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake.get(), &one, sizeof one);
    }

    void loop(std::optional<std::chrono::steady_clock::time_point> deadline);
    void dispatchWatch(std::uint64_t id, std::uint32_t events);
};

class RunLoop::WatchImpl : public RunLoop::Watch {
  public:
    WatchImpl(RunLoop::State& state, std::uint64_t id, int fd, internal::UniqueFd own, bool registered)
        : state_(state), id_(id), fd_(fd), own_(std::move(own)), registered_(registered) {}
    ~WatchImpl() override;
    void setEvents(unsigned events) override;

  private:
    RunLoop::State& state_;
    const std::uint64_t id_;
    const int fd_;
    internal::UniqueFd own_;  // our own duplicate, when there is one
    // Out of epoll while no event is wanted: epoll would still report a hang-up, over and over.
    bool registered_;
};

RunLoop& RunLoop::main() {
    // Never destroyed: the main queue may be used while static destructors run.
    alignas(RunLoop) static unsigned char storage[sizeof(RunLoop)];
    static RunLoop* const loop = new (storage) RunLoop();
    return *loop;
}

std::shared_ptr<SerialQueue> Queue::main() {
    return RunLoop::main().state_->mainQueue;
}

RunLoop::RunLoop() : state_(std::make_unique<State>()) {
    if (!state_->epoll.valid()) internal::throwErrno("epoll_create1");
    if (!state_->wake.valid()) internal::throwErrno("eventfd");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeTag;
    if (epoll_ctl(state_->epoll.get(), EPOLL_CTL_ADD, state_->wake.get(), &event) < 0) {
        internal::throwErrno("epoll_ctl");
    }
    State* state = state_.get();
    state_->mainQueue->setExternalWake([state] {
        state->drainRequested.store(true);
        state->signal();
    });
}

RunLoop::~RunLoop() = default;

void RunLoop::run() {
    state_->loop(std::nullopt);
}

void RunLoop::runFor(std::chrono::nanoseconds duration) {
    state_->loop(std::chrono::steady_clock::now() + duration);
}

void RunLoop::stop() {
    state_->stopRequested.store(true);
    state_->signal();
}

bool RunLoop::isRunning() const {
    return state_->running.load();
}

void RunLoop::State::loop(std::optional<std::chrono::steady_clock::time_point> deadline) {
    running.store(true);
    std::array<epoll_event, 32> events;
    while (!stopRequested.exchange(false)) {
        int timeoutMs = -1;
        if (drainRequested.load()) {
            timeoutMs = 0;
        } else if (deadline) {
            const auto left = *deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) break;
            // Round up so that the loop never returns before the deadline.
            timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
        }
        const int n = epoll_wait(epoll.get(), events.data(), static_cast<int>(events.size()), timeoutMs);
        for (int i = 0; i < n; ++i) {
            const auto& event = events[static_cast<std::size_t>(i)];
            if (event.data.u64 == kWakeTag) {
                std::uint64_t count;
                [[maybe_unused]] auto r = ::read(wake.get(), &count, sizeof count);
            } else {
                dispatchWatch(event.data.u64, event.events);
            }
        }
        if (drainRequested.exchange(false) && mainQueue->drainSome(kDrainBatch)) {
            drainRequested.store(true);
        }
    }
    running.store(false);
}

void RunLoop::State::dispatchWatch(std::uint64_t id, std::uint32_t events) {
    std::shared_ptr<std::function<void(unsigned)>> callback;
    {
        std::lock_guard lock(mutex);
        auto it = watches.find(id);
        if (it == watches.end()) return;  // removed by an earlier callback of this round
        callback = it->second;
    }
    unsigned ready = 0;
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) ready |= RunLoop::Readable;
    if (events & EPOLLOUT) ready |= RunLoop::Writable;
    internal::QueueScope scope(mainQueue.get());
    (*callback)(ready);
}

std::unique_ptr<RunLoop::Watch> RunLoop::watch(int fd, unsigned events,
                                               std::function<void(unsigned)> callback) {
    internal::UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 3));
    if (!own.valid()) return nullptr;
    const int duplicate = own.get();
    return add(duplicate, std::move(own), events, std::move(callback));
}

std::unique_ptr<RunLoop::Watch> RunLoop::watchAlone(int fd, unsigned events,
                                                    std::function<void(unsigned)> callback) {
    return add(fd, internal::UniqueFd(), events, std::move(callback));
}

std::unique_ptr<RunLoop::Watch> RunLoop::add(int fd, internal::UniqueFd own, unsigned events,
                                             std::function<void(unsigned)> callback) {
    std::lock_guard lock(state_->mutex);
    const std::uint64_t id = state_->nextId++;
    epoll_event event{};
    event.events = toEpoll(events);
    event.data.u64 = id;
    const bool registered = event.events != 0;
    if (registered && epoll_ctl(state_->epoll.get(), EPOLL_CTL_ADD, fd, &event) < 0) return nullptr;
    state_->watches.emplace(id, std::make_shared<std::function<void(unsigned)>>(std::move(callback)));
    return std::make_unique<WatchImpl>(*state_, id, fd, std::move(own), registered);
}

RunLoop::WatchImpl::~WatchImpl() {
    std::lock_guard lock(state_.mutex);
    if (registered_) epoll_ctl(state_.epoll.get(), EPOLL_CTL_DEL, fd_, nullptr);
    state_.watches.erase(id_);
}

void RunLoop::WatchImpl::setEvents(unsigned events) {
    epoll_event event{};
    event.events = toEpoll(events);
    event.data.u64 = id_;
    if (event.events == 0) {
        if (registered_) epoll_ctl(state_.epoll.get(), EPOLL_CTL_DEL, fd_, nullptr);
        registered_ = false;
        return;
    }
    epoll_ctl(state_.epoll.get(), registered_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd_, &event);
    registered_ = true;
}

}  // namespace dispatch

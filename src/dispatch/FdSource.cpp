#include "dispatch/FdSource.h"

#include <sys/epoll.h>

#include <mutex>

#include "dispatch/internal/EventLoop.h"

namespace dispatch {

struct FdSource::State : std::enable_shared_from_this<State> {
    State(std::shared_ptr<Queue> queue, Work work) : target(std::move(queue)), handler(std::move(work)) {}

    const std::shared_ptr<Queue> target;
    const Work handler;
    std::mutex mutex;
    internal::EventLoop::Id id = 0;  // guarded by mutex
    bool cancelled = false;          // guarded

    // On the event thread; the descriptor stays unwatched until the handler has run.
    void ready() {
        std::lock_guard lock(mutex);
        if (cancelled) return;
        target->async([self = shared_from_this()] { self->deliver(); });
    }

    // On the target queue.
    void deliver() {
        {
            std::lock_guard lock(mutex);
            if (cancelled) return;
        }
        handler();
        std::lock_guard lock(mutex);
        if (!cancelled) internal::EventLoop::instance().rearmFd(id);
    }
};

std::unique_ptr<FdSource> FdSource::create(int fd, Kind kind, std::shared_ptr<Queue> target, Work handler) {
    if (!target || !handler) return nullptr;
    std::unique_ptr<FdSource> source(new FdSource());
    auto state = std::make_shared<State>(std::move(target), std::move(handler));
    std::lock_guard lock(state->mutex);
    state->id = internal::EventLoop::instance().addFd(fd, kind == Kind::Read ? EPOLLIN : EPOLLOUT,
                                                      [weak = std::weak_ptr<State>(state)] {
                                                          if (auto self = weak.lock()) self->ready();
                                                      });
    if (state->id == 0) return nullptr;
    source->state_ = std::move(state);
    return source;
}

FdSource::~FdSource() {
    if (state_) cancel();
}

void FdSource::cancel() {
    internal::EventLoop::Id id;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) return;
        state_->cancelled = true;
        id = state_->id;
    }
    internal::EventLoop::instance().removeFd(id);
}

}  // namespace dispatch

#include "dispatch/FileWatchSource.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <mutex>

#include "dispatch/internal/EventLoop.h"

namespace dispatch {

struct FileWatchSource::State : std::enable_shared_from_this<State> {
    State(int descriptor, std::uint32_t mask, std::shared_ptr<Queue> queue)
        : fd(descriptor), eventMask(mask), target(std::move(queue)) {}

    const int fd;
    const std::uint32_t eventMask;
    const std::shared_ptr<Queue> target;
    std::mutex mutex;
    std::shared_ptr<const std::function<void(std::uint32_t)>> handler;  // guarded by mutex
    Work cancelHandler;                                                 // guarded
    internal::EventLoop::Id watchId = 0;                                // guarded
    bool active = false;                                                // guarded
    bool cancelled = false;                                             // guarded
    bool deliveryQueued = false;                                        // guarded
    std::uint32_t pending = 0;                                          // guarded: events not yet delivered

    // On the event thread.
    void changed(std::uint32_t mask) {
        std::lock_guard lock(mutex);
        // Checked under the lock: after cancel returns the descriptor may be closed and must not be touched.
        if (cancelled) return;
        std::uint32_t events = 0;
        if (mask & IN_ATTRIB) {
            // Unlinking a file that is still open changes its link count, so it reports IN_ATTRIB only.
            struct stat st {};
            if (fstat(fd, &st) == 0 && st.st_nlink == 0) events |= Delete;
        }
        if (mask & IN_DELETE_SELF) events |= Delete;
        if (mask & IN_MOVE_SELF) events |= Rename;
        if (mask & IN_UNMOUNT) events |= Revoke;
        events &= eventMask;
        if (events == 0) return;
        pending |= events;
        if (active) queueDeliveryLocked();
    }

    void queueDeliveryLocked() {
        if (deliveryQueued || pending == 0) return;
        deliveryQueued = true;
        target->async([self = shared_from_this()] { self->deliver(); });
    }

    // On the target queue.
    void deliver() {
        std::shared_ptr<const std::function<void(std::uint32_t)>> work;
        std::uint32_t events;
        {
            std::lock_guard lock(mutex);
            deliveryQueued = false;
            if (cancelled) return;
            events = std::exchange(pending, 0);
            work = handler;
        }
        if (events && work && *work) (*work)(events);
    }
};

std::shared_ptr<FileWatchSource> FileWatchSource::create(int fd, std::uint32_t eventMask,
                                                         std::shared_ptr<Queue> target) {
    if (fd < 0 || fcntl(fd, F_GETFD) < 0 || !target) return nullptr;
    std::shared_ptr<FileWatchSource> source(new FileWatchSource());
    auto state = std::make_shared<State>(fd, eventMask, std::move(target));
    // Watch from the start so that a failure shows at creation; events before resume are kept for it.
    std::lock_guard lock(state->mutex);
    state->watchId = internal::EventLoop::instance().addFileWatch(
        fd, [weak = std::weak_ptr<State>(state)](std::uint32_t mask) {
            if (auto self = weak.lock()) self->changed(mask);
        });
    if (state->watchId == 0) return nullptr;
    source->state_ = std::move(state);
    return source;
}

FileWatchSource::~FileWatchSource() {
    if (state_) cancel();
}

void FileWatchSource::setEventHandler(std::function<void(std::uint32_t)> handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::make_shared<const std::function<void(std::uint32_t)>>(std::move(handler));
}

void FileWatchSource::setCancelHandler(Work handler) {
    std::lock_guard lock(state_->mutex);
    state_->cancelHandler = std::move(handler);
}

void FileWatchSource::resume() {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled || state_->active) return;
    state_->active = true;
    state_->queueDeliveryLocked();
}

void FileWatchSource::cancel() {
    Work cancelHandler;
    internal::EventLoop::Id watchId;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) return;
        state_->cancelled = true;
        watchId = std::exchange(state_->watchId, 0);
        cancelHandler = std::move(state_->cancelHandler);
        state_->handler.reset();
    }
    internal::EventLoop::instance().removeFileWatch(watchId);
    if (cancelHandler) state_->target->async(std::move(cancelHandler));
}

bool FileWatchSource::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

}  // namespace dispatch

#include "dispatch/Group.h"

#include <cassert>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace dispatch {

struct Group::State {
    std::mutex mutex;
    std::condition_variable empty;
    long members = 0;                                               // guarded by mutex
    std::vector<std::pair<std::shared_ptr<Queue>, Work>> notifies;  // guarded: run once members is 0

    void leave() {
        std::vector<std::pair<std::shared_ptr<Queue>, Work>> ready;
        {
            std::lock_guard lock(mutex);
            assert(members > 0 && "Group::leave without a matching enter");
            if (members == 0) return;
            if (--members > 0) return;
            ready.swap(notifies);
            empty.notify_all();
        }
        for (auto& [queue, work] : ready) queue->async(std::move(work));
    }
};

Group::Group() : state_(std::make_shared<State>()) {}

Group::~Group() = default;

void Group::async(Queue& queue, Work work) {
    enter();
    // The item holds the state, not the group: the group may be destroyed before its members finish.
    queue.async([state = state_, work = std::move(work)] {
        work();
        state->leave();
    });
}

void Group::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->members;
}

void Group::leave() {
    state_->leave();
}

void Group::wait() {
    std::unique_lock lock(state_->mutex);
    state_->empty.wait(lock, [&] { return state_->members == 0; });
}

bool Group::waitFor(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->empty.wait_for(lock, timeout, [&] { return state_->members == 0; });
}

void Group::notify(std::shared_ptr<Queue> queue, Work work) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->members > 0) {
            state_->notifies.emplace_back(std::move(queue), std::move(work));
            return;
        }
    }
    queue->async(std::move(work));
}

}  // namespace dispatch

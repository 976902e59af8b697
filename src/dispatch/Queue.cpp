#include "dispatch/Queue.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>
#include <vector>

#include "dispatch/ConcurrentQueue.h"
#include "dispatch/WorkItem.h"
#include "dispatch/internal/EventLoop.h"
#include "dispatch/internal/NoDestructor.h"
#include "dispatch/internal/QueueStack.h"

namespace dispatch {

struct Queue::Specifics {
    mutable std::mutex mutex;
    std::vector<std::pair<const void*, void*>> values;  // guarded by mutex; a handful at most
};

Queue::Queue(std::string label, Qos qos)
    : label_(std::make_shared<const std::string>(std::move(label))),
      qos_(qos),
      specifics_(std::make_unique<Specifics>()) {}

Queue::~Queue() = default;

void Queue::asyncAfter(Duration delay, Work work) {
    if (delay <= Duration::zero()) {
        async(std::move(work));
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + delay;
    internal::EventLoop::instance().addTimer(
        deadline, Duration::zero(),
        [queue = shared_from_this(), work = std::move(work)]() mutable { queue->async(std::move(work)); });
}

void Queue::async(std::shared_ptr<WorkItem> item) {
    async([item = std::move(item)] { item->perform(); });
}

void Queue::asyncAfter(Duration delay, std::shared_ptr<WorkItem> item) {
    asyncAfter(delay, [item = std::move(item)] { item->perform(); });
}

void Queue::setSpecific(const void* key, void* value) {
    std::lock_guard lock(specifics_->mutex);
    auto& values = specifics_->values;
    auto it = std::find_if(values.begin(), values.end(), [key](const auto& kv) { return kv.first == key; });
    if (it != values.end()) {
        if (value) {
            it->second = value;
        } else {
            values.erase(it);
        }
    } else if (value) {
        values.emplace_back(key, value);
    }
}

void* Queue::getSpecific(const void* key) const {
    std::lock_guard lock(specifics_->mutex);
    for (const auto& [k, v] : specifics_->values) {
        if (k == key) return v;
    }
    return nullptr;
}

void* Queue::currentSpecific(const void* key) {
    Queue* queue = current();
    return queue ? queue->getSpecific(key) : nullptr;
}

bool Queue::anyCurrentHasSpecific(const void* key) {
    for (auto* frame = internal::tlsQueueTop; frame; frame = frame->outer) {
        if (frame->queue->getSpecific(key) != nullptr) return true;
    }
    return false;
}

Queue* Queue::current() {
    return internal::tlsQueueTop ? internal::tlsQueueTop->queue : nullptr;
}

const std::shared_ptr<const std::string>& Queue::currentLabel() {
    static internal::NoDestructor<const std::shared_ptr<const std::string>> none(
        std::make_shared<const std::string>());
    Queue* queue = current();
    return queue ? queue->sharedLabel() : *none;
}

bool Queue::isCurrent() const {
    for (auto* frame = internal::tlsQueueTop; frame; frame = frame->outer) {
        if (frame->queue == this) return true;
    }
    return false;
}

std::shared_ptr<ConcurrentQueue> Queue::global(Qos qos) {
    // Never destroyed: work running on them may outlive static destruction at exit.
    static internal::NoDestructor<std::array<std::shared_ptr<ConcurrentQueue>, 5>> queues([] {
        auto make = [](const char* label, Qos q) {
            return std::shared_ptr<ConcurrentQueue>(new ConcurrentQueue(label, q, true));
        };
        return std::array<std::shared_ptr<ConcurrentQueue>, 5>{
            make("com.apple.root.low-priority", Qos::Background),
            make("com.apple.root.low-priority", Qos::Utility),
            make("com.apple.root.default-priority", Qos::Default),
            make("com.apple.root.high-priority", Qos::UserInitiated),
            make("com.apple.root.high-priority", Qos::UserInteractive),
        };
    }());
    switch (qos) {
        case Qos::Background:
            return (*queues)[0];
        case Qos::Utility:
            return (*queues)[1];
        case Qos::UserInitiated:
            return (*queues)[3];
        case Qos::UserInteractive:
            return (*queues)[4];
        case Qos::Default:
        case Qos::Unspecified:
            break;
    }
    return (*queues)[2];
}

std::uint32_t currentQos() {
    Queue* queue = Queue::current();
    return queue ? static_cast<std::uint32_t>(queue->qos()) : 0;
}

}  // namespace dispatch

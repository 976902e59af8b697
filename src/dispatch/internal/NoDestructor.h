#pragma once

#include <new>
#include <utility>

namespace dispatch::internal {

// A process-wide object built on first use and never destroyed, so that it stays usable from exit hooks and
// from threads still running while static destructors run (queues, the dispatcher, shared empty texts).
template <typename T>
class NoDestructor {
  public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& operator*() { return *get(); }
    T* operator->() { return get(); }
    T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace dispatch::internal

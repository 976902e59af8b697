#pragma once

#include <new>
#include <utility>

namespace dispatch::internal {

// A process-wide object that is never destroyed: detached worker threads may still use it while static
// destructors run at exit.
template <typename T>
class NoDestructor {
  public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    T& operator*() { return *std::launder(reinterpret_cast<T*>(storage_)); }
    T* operator->() { return &**this; }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace dispatch::internal

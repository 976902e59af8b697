#pragma once

#include <functional>
#include <memory>

#include "dispatch/Queue.h"

namespace dispatch {

// Calls a handler on a target queue whenever a descriptor is readable (or writable). Level-triggered: while a
// handler is queued or running the descriptor is not watched, so the handler runs again only if, after it
// returns, the descriptor is still ready. The caller keeps the descriptor open until it destroys or cancels
// the source; destroying the source unregisters it (a handler already running finishes). Thread-safe.
class FdSource {
  public:
    enum class Kind { Read, Write };

    // Starts watching at once. Null when the descriptor cannot be watched.
    static std::unique_ptr<FdSource> create(int fd, Kind kind, std::shared_ptr<Queue> target, Work handler);
    ~FdSource();
    void cancel();

  private:
    FdSource() = default;
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dispatch

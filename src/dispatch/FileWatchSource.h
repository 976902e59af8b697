#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "dispatch/Queue.h"

namespace dispatch {

// Watches an open file descriptor for the file being deleted (its last link removed), renamed or moved, or
// revoked (its file system unmounted), and reports the events on a target queue. Revoke comes only when the
// file system is really torn down; a lazily unmounted one stays alive while the descriptor is open.
//
// The descriptor stays owned by the caller and must stay open until the source is cancelled. Lifecycle as
// TimerSource: created inactive, `resume` to start, `cancel` ends it (then the cancel handler runs once on
// the target queue). Events that arrive while a handler is pending are merged into it. Thread-safe.
class FileWatchSource {
  public:
    enum Event : std::uint32_t { Delete = 1u << 0, Rename = 1u << 1, Revoke = 1u << 2 };

    // Null when the descriptor cannot be watched.
    static std::shared_ptr<FileWatchSource> create(int fd, std::uint32_t eventMask,
                                                   std::shared_ptr<Queue> target);
    ~FileWatchSource();

    // The handler gets the merged events since the last delivery.
    void setEventHandler(std::function<void(std::uint32_t events)> handler);
    void setCancelHandler(Work handler);
    void resume();
    void cancel();
    bool isCancelled() const;

  private:
    FileWatchSource() = default;
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dispatch

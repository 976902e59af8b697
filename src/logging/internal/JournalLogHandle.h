#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "logging/internal/Journal.h"
#include "logging/internal/JournalLevels.h"

// The OS logger's log handle: where its records go (a subsystem and category, or the default log when either
// is missing) and which record types are enabled (a priority ceiling: a type is enabled when its journal
// priority is at or below it; all three types by default).
//
// Immutable apart from the ceiling, which may be changed from any thread; `emit` is thread-safe.
namespace logging::internal {

class JournalLogHandle {
  public:
    JournalLogHandle(std::shared_ptr<Journal> journal, const std::optional<std::string>& subsystem,
                     const std::optional<std::string>& category);

    // True when the handle writes to the default log (no subsystem and category fields).
    bool isDefaultLog() const { return !subsystem_.has_value(); }
    const std::optional<std::string>& subsystem() const { return subsystem_; }
    const std::optional<std::string>& category() const { return category_; }

    bool isTypeEnabled(OsLogType type) const;
    int priorityCeiling() const { return priorityCeiling_.load(std::memory_order_relaxed); }
    void setPriorityCeiling(int priority) { priorityCeiling_.store(priority, std::memory_order_relaxed); }

    // One record of `type` with `text` and the source position; false when the journal refused it. Does not
    // test `isTypeEnabled`: the caller does, before building the text.
    bool emit(OsLogType type, std::string_view text, std::string_view file, std::uint64_t line,
              std::string_view function) const;

  private:
    std::shared_ptr<Journal> journal_;
    std::optional<std::string> subsystem_;
    std::optional<std::string> category_;
    std::atomic<int> priorityCeiling_{7};
};

}  // namespace logging::internal

#pragma once

#include <memory>

#include "logging/internal/Journal.h"

// The system journal through libsystemd: records are written with sd_journal_sendv (to journald's socket),
// read with sd_journal_open (this machine's journal files), matches and cursors, and watched through
// sd_journal_get_fd. Stateless apart from the readers it hands out; thread-safe.
namespace logging::internal {

class JournalSystemd : public Journal {
  public:
    // The process-wide instance the loggers use unless they are given another journal.
    static std::shared_ptr<Journal> shared();

    bool send(const std::vector<JournalField>& fields) override;
    std::unique_ptr<JournalReader> openReader(pid_t pid) override;
};

}  // namespace logging::internal

#pragma once

#include <cstdint>
#include <memory>

#include "logging/internal/Journal.h"

// Watches the journal for this process's own records that other channels wrote (syslog(3), sd_journal_print,
// ...) and hands them to the dispatcher as ordinary records, so that the other loggers see them too. Records
// the logging subsystem wrote itself (DDLOG=1) are never taken. Captured records carry the file name
// "DDASLLogCapture", which the journal loggers do not write back.
//
// Process-wide, no instances. A capture run reads the journal whenever its change descriptor turns readable,
// on the high-priority global queue: the first search of a run takes the records received since the second
// the run began, later ones continue behind the last record taken. One run's searches are serialised, so
// records are delivered once each and in journal order. Error-level records (priorities 0-2) are dispatched
// synchronously, the rest asynchronously.
//
// Thread-safe. `stop` returns at once; the run ends at its next notification, which is still handled in full.
// A `start` before that keeps the same run going rather than starting a second one beside it.
class DDASLLogCapture {
  public:
    DDASLLogCapture() = delete;

    // Does nothing while capturing; otherwise begins a run on the default-priority global queue.
    static void start();
    static void stop();
    static bool isCapturing();

    // The flags taken (a level mask, verbose by default); also the `level` of every captured record.
    static std::uint64_t captureLevel();
    static void setCaptureLevel(std::uint64_t level);

    // Begins a capture run now, on the calling thread, unless one is running. `start` is the usual way in.
    static void captureAslLogs();
    // The fixed conditions every captured record meets besides being this process's: a priority of at most 7
    // and no DDLOG=1 marker.
    static bool configureAslQuery(const logging::internal::JournalRecord& record);
    // Turns one record into a message and dispatches it (nothing for a record without text or whose flag the
    // capture level excludes).
    static void aslMessageReceived(const logging::internal::JournalRecord& record);

    // The journal that later runs watch; the system journal by default.
    static void setJournal(std::shared_ptr<logging::internal::Journal> journal);
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/Group.h"
#include "dispatch/SerialQueue.h"
#include "logging/DDLogFlags.h"
#include "logging/DDLogMessage.h"
#include "logging/DDLogger.h"
#include "logging/DDStringFormat.h"
#include "logging/internal/NoDestructor.h"

// The dispatcher's entry for one registration: a logger, the level mask that admits records, and the queue
// every call into that logger is made on.
struct DDLoggerNode {
    DDLoggerPtr logger;
    std::uint64_t level;
    std::shared_ptr<dispatch::SerialQueue> loggerQueue;
};

// The public pair returned by `allLoggersWithLevel`.
struct DDLoggerInformation {
    DDLoggerPtr logger;
    std::uint64_t level;
};

// The centre of the logging subsystem: builds one record per line on the caller's thread and delivers it, on
// the one serial logging queue ("cocoa.vidadudidu"), to every registered logger whose level admits the
// record's flag, each on its own queue; the next record is taken only after every logger has finished.
//
// Ordering: for one caller, records, additions, removals and flushes take effect in the order issued. A
// logger added by `addLogger` receives every record queued after that call.
//
// Waiting rules: `allLoggers`, `allLoggersWithLevel` and `flushLog` block on the logging queue: never call
// them from a logger's queue (the logging queue may be waiting for that logger); called from the logging
// queue itself they run in place. Synchronous logging blocks until every admitted logger has written the
// record; it is allowed from the logging queue itself (it then runs in place) but not from inside a logger's
// `logMessage` (see `queueLogMessage`).
//
// Bound: at most `maximumRecordsInFlight` asynchronous records are queued and not yet delivered. A caller
// that finds the bound reached waits for room (nothing is dropped), except where waiting would deadlock: on
// the logging queue, inside a logger, and on any queue the dispatcher delivers on; those callers go over the
// bound. So never log asynchronously while holding a lock that a logger may take.
//
// Delivery: the record goes to the last admitted logger by a synchronous call on its queue (which runs on the
// logging thread itself when that queue is idle) and to the others as members of one group, in parallel;
// then the group is waited for. With one processor every logger is called in turn.
//
// Thread-safe; the singleton and its queues are never destroyed, so logging keeps working while static
// objects are torn down, and the process-exit hook flushes every logger.
class DDLog {
  public:
    static DDLog& sharedInstance();
    static const std::shared_ptr<dispatch::SerialQueue>& loggingQueue();
    // The key marking the logging queue.
    static const void* globalLoggingQueueIdentityKey();
    // True when the caller runs work of the logging queue (innermost queue when synchronous calls nest).
    static bool isOnLoggingQueue();
    // The processor count that decides between parallel and one-by-one delivery (at least 1).
    static unsigned numProcessors();

    // The bound on records in flight (see above); at least 1. Waiting callers re-check at once when it
    // changes.
    static constexpr std::size_t kDefaultMaximumRecordsInFlight = 1024;
    void setMaximumRecordsInFlight(std::size_t count);
    std::size_t maximumRecordsInFlight() const;
    // Records queued asynchronously and not yet delivered to every logger.
    std::size_t recordsInFlight() const;

    void addLogger(DDLoggerPtr logger) { addLogger(std::move(logger), LogLevel::All); }
    void addLogger(DDLoggerPtr logger, std::uint64_t level);
    void removeLogger(const DDLoggerPtr& logger);
    void removeAllLoggers();
    // Blocking, see the waiting rules.
    std::vector<DDLoggerPtr> allLoggers();
    std::vector<DDLoggerInformation> allLoggersWithLevel();
    void flushLog();
    // Flushes; called by the process-exit hook.
    void applicationWillTerminate();

    // printf-style with "%@" for any value that has a textual description (see DDStringFormat.h). A null
    // format logs nothing.
    template <typename... Args>
    void log(bool asynchronous, std::uint64_t level, std::uint64_t flag, std::int64_t context,
             const char* file, const char* function, std::uint64_t line, DDTag tag, const char* format,
             const Args&... args) {
        if (format == nullptr) return;
        log(asynchronous, DDStringFormat::format(format, args...), level, flag, context, file, function, line,
            std::move(tag));
    }
    // `file` and `function` must outlive the record (literals do): records keep views of them.
    void log(bool asynchronous, std::string message, std::uint64_t level, std::uint64_t flag,
             std::int64_t context, const char* file, const char* function, std::uint64_t line, DDTag tag);
    // Queues a finished record unchanged.
    void log(bool asynchronous, DDLogMessagePtr message) {
        queueLogMessage(std::move(message), asynchronous);
    }
    // Asynchronous: queued, returns at once (or once there is room, see the bound above). Synchronous:
    // returns after every admitted logger has written the record; run in place when already on the logging
    // queue. A synchronous record from inside a logger's `logMessage` cannot be waited for (the logging queue
    // is waiting for that logger): it is queued asynchronously instead of deadlocking.
    void queueLogMessage(DDLogMessagePtr message, bool asynchronous);

    // Named per-class levels: an explicit registry instead of a runtime class scan.
    struct RegisteredClass {
        std::string name;
        std::function<std::uint64_t()> getLevel;
        std::function<void(std::uint64_t)> setLevel;
    };
    static void registerClass(RegisteredClass registered);
    static bool isRegisteredClass(const std::string& name);
    static std::vector<std::string> registeredClassNames();
    // All bits set for a name that is not registered.
    static std::uint64_t levelForClassWithName(const std::string& name);
    static void setLevelForClassWithName(std::uint64_t level, const std::string& name);

    // Logging-queue-only operations.
    void lt_addLogger(DDLoggerPtr logger, std::uint64_t level);
    void lt_removeLogger(const DDLoggerPtr& logger);
    void lt_removeAllLoggers();
    std::vector<DDLoggerPtr> lt_allLoggers();
    std::vector<DDLoggerInformation> lt_allLoggersWithLevel();
    void lt_log(const DDLogMessagePtr& message);
    void lt_flush();

  private:
    friend class logging::internal::NoDestructor<DDLog>;
    DDLog();
    std::vector<DDLoggerNode> loggers_;  // only on the logging queue
};
